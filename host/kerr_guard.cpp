
#include "kerr_exception.h"
#include "kerr_guard.h"
#include "kmsc.h"

#include <exception>
#include <new>

namespace {

/* Files the report; with no slot, the chain is logged and dropped. */
void deliver(Kerr_Report* report, Kerr_Report** slot) noexcept {
  if (slot != nullptr) {
    *slot = report;
    return;
  }
  char* text = kerr_ReportFormat(report, 0);
  // One log line: the chain's lines joined, without the final newline.
  for (char* c = text; c != nullptr && *c != '\0'; ++c)
    if (*c == '\n') *c = c[1] != '\0' ? ' ' : '\0';
  kerr_MessageLog(-1, "%s", text != nullptr ? text : "Out of memory");
  kmsc_HeapFree(text);
  kerr_DeleteErrorReportEx(&report);
}

}  // namespace

void kerrGuardCatch(const char* label, Kerr_Report** slot) noexcept {
  // What a frame inside the body left in the caller's slot is the cause.
  Kerr_Report* cause = slot != nullptr ? *slot : nullptr;
  Kerr_Report* report = nullptr;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    report = kerr_CreateErrorReport(label, 0, KERR_ERROR, cause, "Out of memory");
  } catch (KerrExceptionA& exception) {
    // The exception carries its own chain; it replaces the partial one.
    Kerr_Report* thrown = exception.releaseReport();
    if (thrown == nullptr) {
      report = kerr_CreateErrorReport(label, 0, KERR_ERROR, cause, "%s", exception.what());
    } else {
      kerr_DeleteErrorReportEx(&cause);
      report = kerr_CreateErrorReport(label, 0, KERR_ERROR, thrown, "%s failed",
                                      kerr_ReportLabel(thrown));
    }
  } catch (const std::exception& exception) {
    report = kerr_CreateErrorReport(label, 0, KERR_ERROR, cause, "%s", exception.what());
  } catch (...) {
    report = kerr_CreateErrorReport(label, 0, KERR_ERROR, cause, "Unexpected exception");
  }
  deliver(report, slot);
}
