/* kdms: the block cache of the host toolkit.
 *
 * A client addresses fixed-size blocks by index 0 .. blockCount-1. The cache
 * keeps up to `capacity` of them in memory, evicts the least recently used
 * one when it needs room, and reaches the backing store only through the
 * client's two callbacks.
 *
 * Memory. The block buffers (capacity x blockBytes, from the host heap) and
 * an index table of blockCount entries are allocated once, at creation, and
 * reused for the life of the cache: reading a block never allocates. Lookup,
 * promotion and eviction are O(1). A capacity larger than the block count is
 * reduced to the block count.
 *
 * Dirty blocks. A block changed through kdms_CacheWrite or handed out by
 * kdms_CacheFetch is dirty. Dirty blocks are stored through the write
 * callback when they are evicted, by kdms_CacheFlush and by
 * kdms_CacheDestroy; a stored block is clean again.
 * - A write callback that reports a failure leaves the block dirty and in
 *   memory; the call that needed the room fails with "Write of block %d
 *   failed", chaining the callback's report. The data is kept for a retry.
 * - A dirty block that must leave memory while the cache has no write
 *   callback is reported as "No write function for dirty block %d"; its data
 *   is dropped after that report (the call fails; a retry succeeds). Flush
 *   reports the same error but keeps the block, since nothing needs its room.
 * - Flush stores blocks in ascending index order, goes on after a failure,
 *   and reports the first failure.
 *
 * Failed reads. A read callback that leaves a report in its slot has failed,
 * whatever the severity: no block stays in memory for that index, its buffer
 * is the next to be reused, and the call fails with "Read of block %d failed"
 * chaining the callback's report.
 *
 * Capacity 0: straight pass-through, nothing is cached.
 * - kdms_CacheRead with a caller buffer calls the read callback directly on
 *   that buffer; with a null buffer it reads into a single scratch block
 *   (allocated once, at creation) and hands that out.
 * - kdms_CacheFetch reads into the scratch block and marks it dirty; the
 *   scratch block is stored before it is reused, before a read of the same
 *   index, and on flush and destroy.
 * - kdms_CacheWrite calls the write callback directly on the caller's data
 *   (the callback must not modify it). Writing the index that the dirty
 *   scratch block holds supersedes it, so it is not stored again later;
 *   this is what makes the fetch-modify-write pattern store a block once.
 *   Without a write callback kdms_CacheWrite fails with "No write function
 *   for dirty block %d".
 *
 * Callbacks. The read callback fills blockBytes bytes at *data; pointing
 * *data elsewhere has no effect. Each callback gets a fresh, empty report
 * slot. A callback must not call back into the same cache: such calls fail
 * with "Cache is busy" and change nothing.
 *
 * Statistics (kdms_CacheStatsGet): hits and misses count lookups by Read,
 * Fetch and Write (in pass-through mode every Read and Fetch is a miss and a
 * Write is no lookup);
 * reads and writes count read- and write-callback calls; evictions count
 * valid blocks removed from memory to make room.
 *
 * A cache is used by one thread at a time. Functions with a report slot
 * follow the toolkit's slot rules and return 0 on success, -1 on failure.
 */
#ifndef KDMS_H
#define KDMS_H

#include <stdint.h>

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct Kdms_Cache Kdms_Cache;

/* Fills *data (a buffer of blockBytes) with block `index`. A report left in
 * `err` makes the read a failure. */
typedef void (*Kdms_ReadFunc)(int32_t index, void** data, void* client, Kerr_Report** err);
/* Stores block `index` from `data` (blockBytes bytes). A report left in
 * `err` makes the store a failure. */
typedef void (*Kdms_WriteFunc)(int32_t index, void* data, void* client, Kerr_Report** err);

/* Tags of kdms_CacheCreate, each followed by one value. */
enum {
  KDMS_TAG_END = 0,         /* ends the list (no value) */
  KDMS_TAG_CAPACITY = 1,    /* int32: blocks kept in memory, >= 0; default 0 */
  KDMS_TAG_BLOCK_COUNT = 2, /* int32: blocks addressed, > 0; required */
  KDMS_TAG_CLIENT = 4,      /* void*: handed back to the callbacks; default null */
  KDMS_TAG_READ_FUNC = 5,   /* Kdms_ReadFunc; required */
  KDMS_TAG_WRITE_FUNC = 6,  /* Kdms_WriteFunc; optional (a read-only cache) */
  KDMS_TAG_RESERVED = 7     /* int32: accepted and ignored; it means nothing */
};

/* Creates a cache of blocks of `blockBytes` (> 0) bytes, configured by
 * tag/value pairs that end with a single 0 (KDMS_TAG_END). A later tag
 * overrides an earlier one. Failure: null and one of "Unknown cache tag %d"
 * (the list is not read further), "Block size %d must be positive", "Block
 * count %d must be positive", "Capacity %d must not be negative", "No read
 * function", "Cache of %d blocks of %d bytes is too large", "Out of memory". */
Kdms_Cache* kdms_CacheCreate(int32_t blockBytes, Kerr_Report** err, ...);

/* Block `index`: with *data non-null, copied into the caller's buffer of
 * blockBytes; with *data null, *data is set to the cache's own copy, valid
 * until the next call on the cache (do not modify it: use Fetch). A block
 * not in memory is read through the read callback. */
int kdms_CacheRead(Kdms_Cache* cache, int32_t index, void** data, Kerr_Report** err);

/* *data = the cache's own copy of block `index`, read first if needed, for
 * modification in place until the next call on the cache. The block is
 * marked dirty. */
int kdms_CacheFetch(Kdms_Cache* cache, int32_t index, void** data, Kerr_Report** err);

/* Records blockBytes bytes at `data` as the new content of block `index`
 * (dirty; no read is needed). `data` may be the cache's own copy of the
 * block, as handed out by Fetch. */
int kdms_CacheWrite(Kdms_Cache* cache, int32_t index, const void* data, Kerr_Report** err);

/* Stores every dirty block through the write callback. */
int kdms_CacheFlush(Kdms_Cache* cache, Kerr_Report** err);

/* Flushes, then frees the cache and sets *cache to null, even when the flush
 * fails (the failure is reported; unsaved data is lost). A null *cache is a
 * no-op; a null address is reported ("Args"). */
void kdms_CacheDestroy(Kdms_Cache** cache, Kerr_Report** err);

/* Read-only counters, for tests and benchmarks. */
typedef struct Kdms_CacheStats {
  int64_t hits, misses, reads, writes, evictions;
} Kdms_CacheStats;

/* Copies the counters into *stats (all zero for a null cache). A null
 * `stats` is ignored. */
void kdms_CacheStatsGet(const Kdms_Cache* cache, Kdms_CacheStats* stats);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
