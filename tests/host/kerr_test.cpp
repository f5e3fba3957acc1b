// The call frame's slot rules and the report chain.
#include <gtest/gtest.h>

#include "host_owners.h"
#include "kerr_exception.h"
#include "kerr_frame.h"
#include "test_support.h"

namespace {

// A callee that fails with a report of its own.
int calleeFailing(Kerr_Report** err) {
  KerrFrame frame("callee", err);
  frame.fail(__LINE__, "disk on fire");
  return -1;
}

// A function following the frame rules: fails when asked, warns when asked.
int framed(bool fail, bool warn, Kerr_Report** err) {
  KerrFrame frame("framed", err);
  if (warn) frame.warn(__LINE__, KERR_WARNING, "odd but fine");
  if (fail && calleeFailing(frame.slot()) != 0) return frame.calleeFailed(__LINE__, "callee"), -1;
  return 0;
}

TEST(KerrFrame, SlotRules) {
  ReportCapture capture;
  // A null slot: the failure is seen only through the result; nothing leaks
  // (the asan preset checks that the frame deleted its own report).
  EXPECT_EQ(framed(true, false, nullptr), -1);
  EXPECT_TRUE(capture.printed.empty());

  // A stale slot is cleared on entry and stays null on success.
  Kerr_Report* stale = kerr_CreateErrorReport("old", 1, KERR_ERROR, nullptr, "stale");
  Kerr_Report* slot = stale;
  kerr_DeleteErrorReportEx(&stale);  // the caller forgot it; the pointer is dangling
  EXPECT_EQ(framed(false, false, &slot), 0);
  EXPECT_EQ(slot, nullptr);

  // A warning during a successful call: slot null, printed exactly once.
  EXPECT_EQ(framed(false, true, &slot), 0);
  EXPECT_EQ(slot, nullptr);
  ASSERT_EQ(capture.printed.size(), 1u);
  EXPECT_EQ(capture.printed[0].label, "framed");
  EXPECT_EQ(capture.printed[0].message, "odd but fine");
  EXPECT_EQ(capture.printed[0].printer, KERR_PRINT_VSL);

  // A failure chains the callee's report.
  EXPECT_EQ(framed(true, false, &slot), -1);
  EXPECT_EQ(reportMessages(slot), (std::vector<std::string>{"callee failed", "disk on fire"}));
  EXPECT_STREQ(kerr_ReportLabel(slot), "framed");
  EXPECT_STREQ(kerr_ReportLabel(kerr_ReportCause(slot)), "callee");
  EXPECT_EQ(kerr_ReportSeverity(slot), KERR_ERROR);
  kerr_DeleteErrorReportEx(&slot);
  EXPECT_EQ(slot, nullptr);

  // Warnings go to the frame's printer.
  {
    KerrFrame frame("geo", nullptr, KERR_PRINT_NOVSL);
    frame.warn(__LINE__, KERR_NOTICE, "n%d", 1);
  }
  ASSERT_EQ(capture.printed.size(), 2u);
  EXPECT_EQ(capture.printed[1].printer, KERR_PRINT_NOVSL);
  EXPECT_EQ(capture.printed[1].message, "n1");
}

TEST(Kerr, FormatCopyAndLog) {
  Kerr_Report* inner = kerr_CreateErrorReport("inner", 7, KERR_WARNING, nullptr, "x=%d", 3);
  Report outer(kerr_CreateErrorReport("outer", 9, KERR_ERROR, inner, "inner failed"));
  EXPECT_STREQ(HeapText(kerr_ReportFormat(outer.get(), 1)).get(),
               "outer(9) error: inner failed\n  inner(7) warning: x=3\n");
  EXPECT_STREQ(HeapText(kerr_ReportFormat(outer.get(), 0)).get(),
               "outer error: inner failed\n  inner warning: x=3\n");

  Report copy(kerr_CopyErrorReport(outer.get()));
  outer.reset();
  EXPECT_EQ(reportMessages(copy.get()), (std::vector<std::string>{"inner failed", "x=3"}));
  EXPECT_EQ(kerr_ReportLine(kerr_ReportCause(copy.get())), 7);

  ReportCapture capture;
  kerr_MessageLog(-1, "%s %d", "rms", 2);
  ASSERT_EQ(capture.logged.size(), 1u);
  EXPECT_EQ(capture.logged[0], std::make_pair(-1, std::string("rms 2")));
  kerr_PrintErrorReport(nullptr);  // nothing to print, no crash
  EXPECT_TRUE(capture.printed.empty());
}

void korvoCapture(const char* text, void* user) {
  static_cast<std::vector<std::string>*>(user)->push_back(text);
}

TEST(KerrExceptionA, ThrowCheckAndLog) {
  std::vector<std::string> logged;
  KorvoLog::Exception::SetSink(korvoCapture, &logged);

  try {
    KerrExceptionA frame("EPSGHelper", "GetProjAndUnitsFromEPSG");
    frame.Check(__LINE__);  // empty: no throw
    frame.Throw(__LINE__, "Can not use EPSG code %d", 0);
    FAIL() << "Throw returned";
  } catch (KerrExceptionA& e) {
    EXPECT_STREQ(e.what(), "Can not use EPSG code 0");
    EXPECT_EQ(e.source(), "EPSGHelper");
    EXPECT_STREQ(kerr_ReportLabel(Report(e.releaseReport()).get()), "GetProjAndUnitsFromEPSG");
  }
  EXPECT_TRUE(logged.empty()) << "a released report is not logged";

  try {
    KerrExceptionA frame("KgtfGeoKeyDirectoryTag", "addGeoKey");
    calleeFailing(frame.slot());
    frame.Check(__LINE__);
    FAIL() << "Check did not throw";
  } catch (const KorvoLog::Exception& e) {
    EXPECT_STREQ(e.what(), "disk on fire");
  }
  ASSERT_EQ(logged.size(), 1u) << "an unreleased report is logged by the exception";
  EXPECT_NE(logged[0].find("disk on fire"), std::string::npos);

  logged.clear();
  {
    KerrExceptionA frame("src", "label");
    calleeFailing(frame.slot());
  }  // destroyed without throwing: the report goes to the log
  EXPECT_EQ(logged.size(), 1u);
  KorvoLog::Exception::SetSink(nullptr, nullptr);
}

}  // namespace
