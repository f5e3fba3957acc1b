// No exception crosses an exported host function: exhausted memory and
// throwing host sinks become reports or log lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "failing_new.h"
#include "host_owners.h"
#include "kerr.h"
#include "kfga.h"
#include "kmod.h"
#include "kmsc.h"
#include "kwff.h"
#include "test_support.h"

namespace {

bool chainSays(const Kerr_Report* report, const std::string& text) {
  for (const std::string& message : reportMessages(report))
    if (message == text) return true;
  return false;
}

// A small set of control points: an affine map with a little warp.
struct Controls {
  Matrix raster, map;
  Controls() {
    std::vector<double> rx, ry, mx, my;
    for (int k = 0; k < 12; ++k) {
      const double x = (k * 37) % 100, y = (k * 53) % 90 + 0.5 * k;
      rx.push_back(x), ry.push_back(y);
      mx.push_back(1000 + 2 * x + 0.01 * x * y), my.push_back(5000 - 2 * y);
    }
    raster = points(rx, ry), map = points(mx, my);
  }
};

TEST(ExportGuard, ExhaustedMemoryBecomesAReportInTheSlot) {
  Controls c;
  Owned<Kfga_Polynomial, kfga_PolynomialDelete> poly(
      kfga_PolynomialCreate(2, 2, 2, KMSC_PIXEL_F64, nullptr));
  ASSERT_TRUE(poly);
  Kerr_Report* err = nullptr;
  int result = 0;
  const long failures = sweepAllocationFailures(
      [&] { result = kfga_DerivePolyCoefs(c.map.get(), c.raster.get(), poly.get(), &err); },
      [&](bool failed) {
        EXPECT_EQ(result, failed ? 0 : 1);
        EXPECT_TRUE(!failed || chainSays(err, "Out of memory"));
        kerr_DeleteErrorReportEx(&err);
      });
  EXPECT_GT(failures, 0);
}

TEST(ExportGuard, RubberSheetingSurvivesEveryAllocationFailure) {
  Controls c;
  Kerr_Report* err = nullptr;
  Kmod_RubberSheet* model = nullptr;
  const long failures = sweepAllocationFailures(
      [&] { model = kmod_RubberSheetingSolve(c.map.get(), c.raster.get(), 5, &err); },
      [&](bool failed) {
        EXPECT_EQ(model == nullptr, failed);
        EXPECT_TRUE(!failed || chainSays(err, "Out of memory"));
        kmod_RubberSheetingDelete(&model, nullptr);
        kerr_DeleteErrorReportEx(&err);
      });
  EXPECT_GT(failures, 0);
}

TEST(ExportGuard, WithoutASlotTheFailureIsLogged) {
  const std::string image = testing::TempDir() + "guard_wf.tif";
  const std::string world = testing::TempDir() + "guard_wf.tfw";
  std::fclose(std::fopen(world.c_str(), "w"));
  ReportCapture capture;
  char* found = nullptr;
  const long failures = sweepAllocationFailures([&] { found = kwff_FileNameFind(image.c_str()); },
                                                [&](bool failed) {
                                                  EXPECT_EQ(found == nullptr, failed);
                                                  kmsc_HeapFree(found);
                                                });
  std::remove(world.c_str());
  EXPECT_GT(failures, 0);
  ASSERT_FALSE(capture.logged.empty());
  EXPECT_EQ(capture.logged.back().first, -1);
  EXPECT_NE(capture.logged.back().second.find("kwff_FileNameFind"), std::string::npos);
}

void throwingSink(const Kerr_Report*, int, void*) {
  throw std::runtime_error("sink");
}
void throwingLog(int, const char*, void*) {
  throw std::runtime_error("log");
}

TEST(ExportGuard, ThrowingHostSinksFallBackToTheDefault) {
  Kerr_ReportSink previous = nullptr;
  void* previousUser = nullptr;
  Kerr_LogSink previousLog = nullptr;
  void* previousLogUser = nullptr;
  kerr_SetReportSink(throwingSink, nullptr, &previous, &previousUser);
  kerr_SetLogSink(throwingLog, nullptr, &previousLog, &previousLogUser);
  Kerr_Report* report = kerr_CreateErrorReport("guard", 1, KERR_WARNING, nullptr, "shown anyway");
  EXPECT_NO_THROW(kerr_PrintErrorReport(report));
  EXPECT_NO_THROW(kerr_MessageLog(0, "logged anyway"));
  kerr_DeleteErrorReportEx(&report);
  kerr_SetReportSink(previous, previousUser, nullptr, nullptr);
  kerr_SetLogSink(previousLog, previousLogUser, nullptr, nullptr);
}

}  // namespace
