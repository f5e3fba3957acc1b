/* kerr: error reports of the host toolkit.
 *
 * A report carries the label of the function that made it, the source line,
 * a severity (2 error, 1 warning, 0 notice), a message and the report of the
 * callee that caused it (the cause chain). Reports are created by the function
 * that fails and travel back through a report slot: the address of a
 * Kerr_Report pointer, the last argument of nearly every call.
 *
 * Printing goes to a report sink: stderr by default, replaceable by the host
 * and by tests. kerr_PrintErrorReport shows every report of the chain with its
 * label and source line (the verbose source location); the NoVSL form, meant
 * for reports whose wording is for users, shows labels and messages only.
 * kerr_MessageLog writes to the log sink (stderr by default).
 */
#ifndef KERR_H
#define KERR_H

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct Kerr_Report Kerr_Report;

enum { KERR_NOTICE = 0, KERR_WARNING = 1, KERR_ERROR = 2 };

/* Creates a report that takes ownership of `cause` (may be null). `label` is
 * copied. Returns null only when memory is exhausted (the cause is then
 * deleted). */
Kerr_Report* kerr_CreateErrorReport(const char* label, int line, int severity, Kerr_Report* cause,
                                    const char* format, ...) __attribute__((format(printf, 5, 6)));
Kerr_Report* kerr_CreateErrorReportV(const char* label, int line, int severity, Kerr_Report* cause,
                                     const char* format, va_list args);

/* Deletes the report and its whole cause chain and sets *report to null.
 * Accepts a null address and a null report. */
void kerr_DeleteErrorReportEx(Kerr_Report** report);

/* A deep copy of the whole chain, or null. */
Kerr_Report* kerr_CopyErrorReport(const Kerr_Report* report);

/* Accessors; each accepts null (giving null, 0 or -1). */
const char* kerr_ReportLabel(const Kerr_Report* report);
int kerr_ReportLine(const Kerr_Report* report);
int kerr_ReportSeverity(const Kerr_Report* report);
const char* kerr_ReportMessage(const Kerr_Report* report);
const Kerr_Report* kerr_ReportCause(const Kerr_Report* report);
/* Number of reports in the chain starting at `report` (0 for null). */
int kerr_ReportChainLength(const Kerr_Report* report);
/* The whole chain as text, one "label(line) severity: message" line per
 * report (without "(line)" when withLines is 0), the outermost first, causes
 * indented. A new heap string (kmsc_HeapFree), or null. */
char* kerr_ReportFormat(const Kerr_Report* report, int withLines);

/* Showing reports. A null report prints nothing. */
void kerr_PrintErrorReport(const Kerr_Report* report);
void kerr_PrintErrorReportNoVSL(const Kerr_Report* report);

/* Which printer showed a report, as the sink is told. */
enum { KERR_PRINT_VSL = 1, KERR_PRINT_NOVSL = 0 };
typedef void (*Kerr_ReportSink)(const Kerr_Report* report, int printer, void* user);
typedef void (*Kerr_LogSink)(int level, const char* text, void* user);

/* Replace the sinks; a null sink restores the default (stderr). The previous
 * sink and its user pointer are returned through the optional out arguments. */
void kerr_SetReportSink(Kerr_ReportSink sink, void* user, Kerr_ReportSink* previous,
                        void** previousUser);
void kerr_SetLogSink(Kerr_LogSink sink, void* user, Kerr_LogSink* previous, void** previousUser);

/* Log a message at a level (0 information, -1 error, as callers choose). */
void kerr_MessageLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void kerr_MessageLogV(int level, const char* format, va_list args);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
