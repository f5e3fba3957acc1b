/* kfio: files of the host toolkit, with 64-bit offsets everywhere.
 *
 * A Kfio_File is an opaque handle over a stdio stream. Reads and writes may
 * be mixed freely on a file opened for update: the handle inserts the
 * positioning call that stdio requires between the two. Handles are created
 * by kfio_Open (or kfio_StandardError), released with kfio_Close, and used by
 * one thread at a time.
 *
 * Functions with a report slot follow the toolkit's slot rules; the seek and
 * tell primitives answer with a status only, like their stdio counterparts.
 */
#ifndef KFIO_H
#define KFIO_H

#include <stddef.h>
#include <stdint.h>

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct Kfio_File Kfio_File;

/* Opens `path` with a stdio mode: 'r', 'w' or 'a', then any of 'b', '+', 'x',
 * 'e'. Directories cannot be opened. Failure: null and "Cannot open %s: %s"
 * (with the system's reason), "Invalid mode '%s'", or "Args" for a null
 * argument. */
Kfio_File* kfio_Open(const char* path, const char* mode, Kerr_Report** err);

/* A process-wide handle over the standard error stream (never null). Closing
 * it only flushes the stream. */
Kfio_File* kfio_StandardError(void);

/* Flushes and closes the file and sets *file to null; a null *file is a
 * no-op. Returns 0, or -1 with "Cannot close %s: %s" (the handle is released
 * either way) or "Args" for a null address. */
int kfio_Close(Kfio_File** file, Kerr_Report** err);

/* Reads up to `bytes` bytes at the current position and returns how many
 * were read. Reaching the end of the file first leaves the error report
 * "Short read: %lld of %lld bytes" in the slot and returns the count. An I/O
 * error or a bad argument returns -1 with a report. */
int64_t kfio_ReadSeq(Kfio_File* file, void* buffer, int64_t bytes, Kerr_Report** err);

/* Writes `bytes` bytes at the absolute position `offset` (0 to 4 GiB - 1) and
 * leaves the position just after them. Returns `bytes`, or -1 with a report. */
int64_t kfio_WriteDirect(Kfio_File* file, uint32_t offset, const void* data, int64_t bytes,
                         Kerr_Report** err);

/* Origins of the seek functions. */
enum { KFIO_SEEK_SET = 0, KFIO_SEEK_CUR = 1, KFIO_SEEK_END = 2 };

/* Moves the position to `offset` from the origin (0 start, 1 current, 2 end).
 * Returns 0 on success, nonzero on failure (null file, unknown origin, a
 * position before the start). */
int kfio_fseeko(Kfio_File* file, int64_t offset, int origin);
/* The current position, or -1. */
int64_t kfio_ftello(Kfio_File* file);
/* kfio_fseeko for callers that hold 32-bit positions. */
int kfio_CompatibleFseek(Kfio_File* file, int32_t offset, int origin);

/* 1 when `path` names an existing regular file (symbolic links followed),
 * else 0 (also for null). */
int kfio_FileExists(const char* path);

/* A stat cache holds the status of one path, taken when it is created. */
typedef struct Kfio_StatCache Kfio_StatCache;

/* Items of a stat cache. */
enum {
  KFIO_STAT_MODE = 1,         /* type and permission bits (st_mode) */
  KFIO_STAT_MTIME = 2,        /* last modification, seconds since 1970 UTC */
  KFIO_STAT_IS_DIRECTORY = 3, /* 1 for a directory, else 0 */
  KFIO_STAT_SIZE = 26         /* size in bytes */
};

/* Takes the status of `path`. Failure: null and "Couldn't stat %s". */
Kfio_StatCache* kfio_StatCacheCreate(const char* path, Kerr_Report** err);
/* Stores one item in *value and returns 1; an unknown item returns 0 with
 * "Unknown stat item %d", null arguments 0 with "Args". */
int kfio_StatCacheGet(const Kfio_StatCache* cache, int32_t item, int64_t* value, Kerr_Report** err);
/* Frees the cache and sets *cache to null; accepts null. */
void kfio_StatCacheFree(Kfio_StatCache** cache);

/* The host's text output: stdout, or the sink set below. Returns the number
 * of characters written, or a negative value on failure. */
int kfio_Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
/* Formatted text to a file at its current position; like fprintf. */
int kfio_Fprintf(Kfio_File* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
/* Like snprintf: the result is always terminated when size > 0, and the
 * length the whole text needed is returned (negative on failure). */
int kfio_Sprintf(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/* Sends kfio_Printf's text to `sink` (one call per kfio_Printf, with the
 * whole formatted text); a null sink restores stdout. */
typedef void (*Kfio_PrintfSink)(const char* text, void* user);
void kfio_SetPrintfSink(Kfio_PrintfSink sink, void* user);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
