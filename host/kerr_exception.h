/* KerrExceptionA: the host's error frame for code that reports by exception.
 *
 * A frame is opened with a source name and a label; host calls made inside it
 * report into its slot(). Check() throws the frame when a report is stored in
 * it; Throw() adds an error report and throws. The thrown object owns the
 * report chain. A frame destroyed with a report still in it logs that report
 * through KorvoLog and deletes it, so no report is lost silently.
 */
#ifndef KERR_EXCEPTION_H
#define KERR_EXCEPTION_H

#include "kerr.h"
#include "korvolog.h"

class __attribute__((visibility("default"))) KerrExceptionA : public KorvoLog::Exception {
 public:
  KerrExceptionA(const char* source, const char* label);
  KerrExceptionA(const KerrExceptionA& other);
  KerrExceptionA(KerrExceptionA&& other) noexcept;
  KerrExceptionA& operator=(const KerrExceptionA&) = delete;
  ~KerrExceptionA() override;

  Kerr_Report** slot() noexcept { return &report_; }
  const Kerr_Report* report() const noexcept { return report_; }
  /* Hands the report chain to the caller (who deletes it); nothing is logged. */
  Kerr_Report* releaseReport() noexcept {
    Kerr_Report* out = report_;
    report_ = nullptr;
    return out;
  }

  /* Adds an error report (severity 2) under the label and throws. */
  [[noreturn]] void Throw(int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
  /* Throws when the slot holds a report; otherwise does nothing. */
  void Check(int line);
  /* Logs the report chain (or `text`) and drops the report. */
  void Log(int line = 0, const char* text = nullptr) const override;

 private:
  [[noreturn]] void throwSelf(int line);

  mutable Kerr_Report* report_ = nullptr;
};

#endif
