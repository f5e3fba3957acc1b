#include "kerr.h"
#include "kmsc.h"
#include "kstr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct Kerr_Report {
  char* label;
  int line;
  int severity;
  char* message;
  Kerr_Report* cause;
};

namespace {

void defaultReportSink(const Kerr_Report* report, int printer, void*) {
  char* text = kerr_ReportFormat(report, printer == KERR_PRINT_VSL);
  if (text != nullptr) {
    std::fputs(text, stderr);
    kmsc_HeapFree(text);
  }
}

void defaultLogSink(int level, const char* text, void*) {
  std::fprintf(stderr, "log(%d): %s\n", level, text);
}

struct Sinks {
  Kerr_ReportSink report = defaultReportSink;
  void* reportUser = nullptr;
  Kerr_LogSink log = defaultLogSink;
  void* logUser = nullptr;
};

Sinks& sinks() {
  static Sinks instance;
  return instance;
}

/* A host's sink may throw; the report or line then goes to the default sink,
 * so reporting never throws and nothing is lost. */
void toReportSink(const Kerr_Report* report, int printer) noexcept {
  try {
    sinks().report(report, printer, sinks().reportUser);
  } catch (...) {
    defaultReportSink(report, printer, nullptr);
  }
}

void toLogSink(int level, const char* text) noexcept {
  try {
    sinks().log(level, text, sinks().logUser);
  } catch (...) {
    defaultLogSink(level, text, nullptr);
  }
}

char* vformat(const char* format, va_list args) {
  if (format == nullptr) return kstr_DuplicateN("", 0);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) return nullptr;
  char* text = static_cast<char*>(kmsc_HeapMalloc(static_cast<size_t>(length) + 1));
  if (text != nullptr) std::vsnprintf(text, static_cast<size_t>(length) + 1, format, args);
  return text;
}

}  // namespace

extern "C" {

Kerr_Report* kerr_CreateErrorReportV(const char* label, int line, int severity, Kerr_Report* cause,
                                     const char* format, va_list args) {
  auto* report = static_cast<Kerr_Report*>(kmsc_HeapMalloc(sizeof(Kerr_Report)));
  char* labelCopy = kstr_DuplicateN(label ? label : "", label ? std::strlen(label) : 0);
  char* message = vformat(format, args);
  if (report == nullptr || labelCopy == nullptr || message == nullptr) {
    kmsc_HeapFree(report);
    kmsc_HeapFree(labelCopy);
    kmsc_HeapFree(message);
    kerr_DeleteErrorReportEx(&cause);
    return nullptr;
  }
  *report = Kerr_Report{labelCopy, line, severity, message, cause};
  return report;
}

Kerr_Report* kerr_CreateErrorReport(const char* label, int line, int severity, Kerr_Report* cause,
                                    const char* format, ...) {
  va_list args;
  va_start(args, format);
  Kerr_Report* report = kerr_CreateErrorReportV(label, line, severity, cause, format, args);
  va_end(args);
  return report;
}

void kerr_DeleteErrorReportEx(Kerr_Report** report) {
  if (report == nullptr) return;
  Kerr_Report* current = *report;
  *report = nullptr;
  while (current != nullptr) {
    Kerr_Report* cause = current->cause;
    kmsc_HeapFree(current->label);
    kmsc_HeapFree(current->message);
    kmsc_HeapFree(current);
    current = cause;
  }
}

Kerr_Report* kerr_CopyErrorReport(const Kerr_Report* report) {
  if (report == nullptr) return nullptr;
  Kerr_Report* cause = nullptr;
  if (report->cause != nullptr && (cause = kerr_CopyErrorReport(report->cause)) == nullptr)
    return nullptr;
  return kerr_CreateErrorReport(report->label, report->line, report->severity, cause, "%s",
                                report->message);
}

const char* kerr_ReportLabel(const Kerr_Report* report) {
  return report ? report->label : nullptr;
}
int kerr_ReportLine(const Kerr_Report* report) {
  return report ? report->line : 0;
}
int kerr_ReportSeverity(const Kerr_Report* report) {
  return report ? report->severity : -1;
}
const char* kerr_ReportMessage(const Kerr_Report* report) {
  return report ? report->message : nullptr;
}
const Kerr_Report* kerr_ReportCause(const Kerr_Report* report) {
  return report ? report->cause : nullptr;
}

int kerr_ReportChainLength(const Kerr_Report* report) {
  int length = 0;
  for (; report != nullptr; report = report->cause) ++length;
  return length;
}

char* kerr_ReportFormat(const Kerr_Report* report, int withLines) {
  static const char* const severityNames[] = {"notice", "warning", "error"};
  // Formatting runs inside the exception guard's own reporting, so it may not
  // throw: exhausted memory gives null, as the heap does.
  try {
    std::string text;
    for (int depth = 0; report != nullptr; report = report->cause, ++depth) {
      const char* severity =
          report->severity >= 0 && report->severity <= 2 ? severityNames[report->severity] : "?";
      text.append(static_cast<size_t>(depth) * 2, ' ');
      text += report->label;
      if (withLines) text += '(' + std::to_string(report->line) + ')';
      text += std::string(" ") + severity;
      if (report->message[0] != '\0') text += std::string(": ") + report->message;
      text += '\n';
    }
    return kstr_DuplicateN(text.c_str(), text.size());
  } catch (...) {
    return nullptr;
  }
}

void kerr_PrintErrorReport(const Kerr_Report* report) {
  if (report == nullptr) return;
  toReportSink(report, KERR_PRINT_VSL);
}

void kerr_PrintErrorReportNoVSL(const Kerr_Report* report) {
  if (report == nullptr) return;
  toReportSink(report, KERR_PRINT_NOVSL);
}

void kerr_SetReportSink(Kerr_ReportSink sink, void* user, Kerr_ReportSink* previous,
                        void** previousUser) {
  if (previous != nullptr) *previous = sinks().report;
  if (previousUser != nullptr) *previousUser = sinks().reportUser;
  sinks().report = sink ? sink : defaultReportSink;
  sinks().reportUser = sink ? user : nullptr;
}

void kerr_SetLogSink(Kerr_LogSink sink, void* user, Kerr_LogSink* previous, void** previousUser) {
  if (previous != nullptr) *previous = sinks().log;
  if (previousUser != nullptr) *previousUser = sinks().logUser;
  sinks().log = sink ? sink : defaultLogSink;
  sinks().logUser = sink ? user : nullptr;
}

void kerr_MessageLogV(int level, const char* format, va_list args) {
  char* text = vformat(format, args);
  if (text == nullptr) return;
  toLogSink(level, text);
  kmsc_HeapFree(text);
}

void kerr_MessageLog(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  kerr_MessageLogV(level, format, args);
  va_end(args);
}

}  // extern "C"
