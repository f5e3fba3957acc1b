/* kstr: heap strings, case-insensitive compares, path expansion and string
 * lists. Every string handed out is a new block of the host heap, released
 * with kmsc_HeapFree.
 */
#ifndef KSTR_H
#define KSTR_H

#include <stddef.h>
#include <stdint.h>

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* A heap copy, or null for a null string or an exhausted heap. */
char* kstr_Duplicate(const char* text);
/* A heap copy of the first `length` bytes, zero-terminated. */
char* kstr_DuplicateN(const char* text, size_t length);

/* Formats into a new heap string. `previous` (may be null) is freed after the
 * formatting, so it may be among the arguments ("%s more", previous): the
 * usual way to grow a string. On failure null is returned, `previous` is left
 * as it was, and "Formatting failed" is reported (label "kstr_Sprintf"). */
char* kstr_Sprintf(char* previous, const char* format, Kerr_Report** err, ...)
    __attribute__((format(printf, 2, 4)));

/* 1 when equal ignoring ASCII case (whole strings, or the first n
 * characters), else 0. Two nulls are equal; null and a string are not. */
int kstr_Eqic(const char* a, const char* b);
int kstr_Eqnic(const char* a, const char* b, size_t n);

/* Expands a leading "~" or "~/" (HOME) and every $NAME or ${NAME} from the
 * environment. A variable that is not set is an error ("Undefined variable
 * %s"); so is a null path ("Args"). `flags` is reserved (0). Returns a new heap
 * string or null. */
char* kstr_PathExpand(const char* path, int32_t flags, Kerr_Report** err);

/* A list of heap strings. */
typedef struct KstrStringList {
  int32_t count;
  char** strings; /* count entries, each a heap string */
} KstrStringList;

/* Appends a copy of `text`; creates the list when *list is null. Returns 0, or
 * -1 on failure (list unchanged). */
int kstr_StringListAppend(KstrStringList** list, const char* text, Kerr_Report** err);
/* A deep copy; a null list gives null without a report. `flags` is reserved. */
KstrStringList* kstr_StringListCopy(const KstrStringList* list, int32_t flags, Kerr_Report** err);
/* Frees the list and its strings and sets *list to null. */
void kstr_StringListDelete(KstrStringList** list, Kerr_Report** err);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
