#include "kerr_frame.h"

#include <cstdarg>

KerrFrame::KerrFrame(const char* label, Kerr_Report** callerSlot, int printer) noexcept
    : label_(label), printer_(printer), slot_(callerSlot ? callerSlot : &own_) {
  *slot_ = nullptr;
}

KerrFrame::~KerrFrame() {
  kerr_DeleteErrorReportEx(&own_);
}

void KerrFrame::add(int line, int severity, const char* format, va_list args) noexcept {
  // If even the report cannot be made, the cause is gone too; the result
  // still tells the caller that the call failed.
  *slot_ = kerr_CreateErrorReportV(label_, line, severity, *slot_, format, args);
}

void KerrFrame::fail(int line, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  add(line, KERR_ERROR, format, args);
  va_end(args);
}

void KerrFrame::calleeFailed(int line, const char* callee) noexcept {
  fail(line, "%s failed", callee);
}

void KerrFrame::report(int line, int severity, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  add(line, severity, format, args);
  va_end(args);
}

void KerrFrame::warn(int line, int severity, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  add(line, severity, format, args);
  va_end(args);
  showAndDrop();
}

void KerrFrame::showAndDrop() noexcept {
  if (printer_ == KERR_PRINT_NOVSL)
    kerr_PrintErrorReportNoVSL(*slot_);
  else
    kerr_PrintErrorReport(*slot_);
  drop();
}

void KerrFrame::drop() noexcept {
  kerr_DeleteErrorReportEx(slot_);
}
