#include "kerr_exception.h"
#include "kmsc.h"

#include <cstdarg>
#include <string>

namespace {

std::string chainText(const Kerr_Report* report) {
  char* text = kerr_ReportFormat(report, 1);
  std::string out = text ? text : "";
  kmsc_HeapFree(text);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace

KerrExceptionA::KerrExceptionA(const char* source, const char* label)
    : KorvoLog::Exception(source, label) {}

KerrExceptionA::KerrExceptionA(const KerrExceptionA& other)
    : KorvoLog::Exception(other), report_(kerr_CopyErrorReport(other.report_)) {}

KerrExceptionA::KerrExceptionA(KerrExceptionA&& other) noexcept
    : KorvoLog::Exception(other), report_(other.report_) {
  other.report_ = nullptr;
}

KerrExceptionA::~KerrExceptionA() {
  if (report_ != nullptr) Log();
}

void KerrExceptionA::throwSelf(int line) {
  setLine(line);
  setMessage(report_ ? kerr_ReportMessage(report_) : "");
  throw KerrExceptionA(std::move(*this));
}

void KerrExceptionA::Throw(int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_ = kerr_CreateErrorReportV(label().c_str(), line, KERR_ERROR, report_, format, args);
  va_end(args);
  throwSelf(line);
}

void KerrExceptionA::Check(int line) {
  if (report_ != nullptr) throwSelf(line);
}

void KerrExceptionA::Log(int line, const char* text) const {
  std::string body = text ? std::string(text) : report_ ? chainText(report_) : what();
  KorvoLog::Exception::Log(line, body.c_str());
  kerr_DeleteErrorReportEx(&report_);
}
