/* KerrFrame: the call frame every reporting function opens on entry.
 *
 * It implements the report-slot rules once:
 * - a null slot address means the function works with a slot of its own,
 *   whose report is deleted when the frame ends (the caller sees only the
 *   function's result);
 * - a caller's slot is cleared on entry;
 * - a new report chains whatever the slot holds (the callee's report) as its
 *   cause and replaces it;
 * - warnings and notices that do not stop the work are shown with the frame's
 *   printer, deleted, and the slot is cleared, so the caller sees success.
 *
 * Usage:
 *   static const char* kLabel = "kgtf_Something";
 *   KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
 *   if (!params) return frame.fail(__LINE__, "Args"), -1;
 *   if (!callee(..., frame.slot())) return frame.calleeFailed(__LINE__, "callee"), -1;
 */
#ifndef KERR_FRAME_H
#define KERR_FRAME_H

#include "kerr.h"

class KerrFrame {
 public:
  KerrFrame(const char* label, Kerr_Report** callerSlot, int printer = KERR_PRINT_VSL) noexcept;
  ~KerrFrame();
  KerrFrame(const KerrFrame&) = delete;
  KerrFrame& operator=(const KerrFrame&) = delete;

  /* The slot in use, to hand to callees. */
  Kerr_Report** slot() noexcept { return slot_; }
  bool hasReport() const noexcept { return *slot_ != nullptr; }
  const char* label() const noexcept { return label_; }

  /* An error (severity 2) under the frame's label, chaining the slot's report. */
  void fail(int line, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));
  /* "<callee> failed", chaining the callee's report. */
  void calleeFailed(int line, const char* callee) noexcept;
  /* A report of any severity that stays in the slot. */
  void report(int line, int severity, const char* format, ...) noexcept
      __attribute__((format(printf, 4, 5)));
  /* A warning (or notice) that does not stop the work: made, shown, dropped. */
  void warn(int line, int severity, const char* format, ...) noexcept
      __attribute__((format(printf, 4, 5)));
  /* Show the slot's report with the frame's printer, then drop it. */
  void showAndDrop() noexcept;
  /* Delete the slot's report (an optional step that failed) and clear it. */
  void drop() noexcept;

 private:
  void add(int line, int severity, const char* format, va_list args) noexcept;

  const char* label_;
  int printer_;
  Kerr_Report* own_ = nullptr;
  Kerr_Report** slot_;
};

#endif
