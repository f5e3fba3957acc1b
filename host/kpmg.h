/* kpmg: the preference store of the host toolkit.
 *
 * A preference is named by a group and a key ("tiff", "rb_block_width");
 * both compare without regard to ASCII case. A value is looked up in three
 * layers, the later winning:
 *   1. the caller's default, given with every read;
 *   2. the preferences file named by the environment variable
 *      KRASTER_PREFERENCES (see docs/preferences.md for its format);
 *   3. values given through the setter API (hosts, tests, the command-line
 *      tool's --pref options).
 *
 * The variable is read the first time the store is used and again by
 * kpmg_Reload(). Problems in the file (unreadable file, lines that do not
 * parse) never fail a read: they go to kerr_MessageLog at level -1 and the
 * offending part is skipped.
 *
 * The store is process-wide and has no lock: like the rest of the toolkit it
 * is used by one thread at a time. Strings returned by kpmg_PreferencesFileName
 * and kpmg_GetPreferenceSource are owned by the store.
 */
#ifndef KPMG_H
#define KPMG_H

#include "kerr.h"

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The environment variable that names the preferences file. */
#define KPMG_PREFERENCES_VARIABLE "KRASTER_PREFERENCES"

/* The value as a new heap string (kmsc_HeapFree), or, when nothing is set or
 * the read fails, `defaultValue` itself (the same pointer, which may be null).
 * Callers compare the result with their default by pointer first and free
 * only a result that differs. Null group or key: "Args".
 * `values` lists the accepted values, "|"-separated ("Read|Write|Ignore"); a
 * value matches one of them trimmed and without regard to ASCII case, and
 * comes back spelt as in the list. A value that matches none gives the default
 * and a warning (severity KERR_WARNING) "Unknown value '%s' for %s.%s
 * (allowed: A, B, C)". Null `values` accepts any text as it is. */
char* kpmg_GetEnumPreference(const char* group, const char* key, const char* defaultValue,
                             const char* values, Kerr_Report** err);

/* The value as a number, or `defaultValue` when nothing is set. A value that
 * is not a complete finite number (C locale, surrounding blanks allowed)
 * gives the default and "Malformed number '%s' for %s.%s". */
double kpmg_GetNumberPreference(const char* group, const char* key, double defaultValue,
                                Kerr_Report** err);

/* 1 or 0 from true/false, yes/no, on/off, 1/0 (any case, surrounding blanks
 * allowed), or `defaultValue` when nothing is set. Anything else gives the
 * default and "Malformed boolean '%s' for %s.%s". */
int kpmg_GetBooleanPreference(const char* group, const char* key, int defaultValue,
                              Kerr_Report** err);

/* Sets a value in the setter layer; a null value removes the setter's value
 * (the file's or the default then shows through). Group and key must be
 * non-empty and the group must not contain '.'. Returns 0, or -1 with a
 * report. */
int kpmg_SetPreference(const char* group, const char* key, const char* value, Kerr_Report** err);

/* Parses "group.key=value" and sets it: the first '.' splits group from key,
 * the first '=' key from value. Group, key and value are trimmed of blanks; a
 * value in double quotes keeps its blanks. Returns 0, or -1 with
 * "Malformed preference '%s'". */
int kpmg_SetPreferenceAssignment(const char* assignment, Kerr_Report** err);

/* Drops every value of the setter layer. */
void kpmg_ClearPreferences(void);

/* Re-reads the file named by KRASTER_PREFERENCES into the file layer; with
 * the variable unset or empty there is no file layer. An unreadable file is
 * logged and ignored, as on first use. Returns 0, or -1 with a report when
 * memory runs out. */
int kpmg_Reload(Kerr_Report** err);

/* Replaces the file layer with the contents of `path` (for hosts and tests).
 * Bad lines are logged and skipped; a file that cannot be read is an error
 * ("Cannot read preferences file %s: %s") and leaves the store unchanged.
 * Returns 0 or -1. */
int kpmg_LoadFile(const char* path, Kerr_Report** err);

/* Where the value of group.key comes from: "set", "file" or "default". */
const char* kpmg_GetPreferenceSource(const char* group, const char* key);

/* The preferences file whose values are in use, or null. Valid until the
 * next kpmg_Reload or kpmg_LoadFile. */
const char* kpmg_PreferencesFileName(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
