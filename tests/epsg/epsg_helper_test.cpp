// The EPSG helper: narrow records through the shared translator, its failure
// conventions and the translator's lifetime.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "epsg_helper.h"
#include "host_owners.h"
#include "kerr_exception.h"
#include "kint.h"

namespace {

void capture(const char* text, void* user) {
  static_cast<std::vector<std::string>*>(user)->push_back(text);
}

class LogCapture {
 public:
  LogCapture() { KorvoLog::Exception::SetSink(capture, &lines); }
  ~LogCapture() { KorvoLog::Exception::SetSink(nullptr, nullptr); }
  std::vector<std::string> lines;
};

TEST(EPSGHelper, CodeToRecordAndBack) {
  Projection projection;
  HeapText units;
  GetProjAndUnitsFromEPSG(2193, out(projection), out(units));
  ASSERT_NE(projection, nullptr);
  EXPECT_STREQ(units.get(), "meters");
  EXPECT_STREQ(kprj_MapProjectionName(projection.get()), "Transverse Mercator");
  auto* pro = static_cast<const Kprj_ProParameters*>(
      kprj_MapProjectionCSRGet(projection.get(), KPRJ_FORM_PRO_PARAMETERS));
  ASSERT_NE(pro, nullptr);
  EXPECT_EQ(pro->parameters[2], 0.9996);
  EXPECT_EQ(GetEPSGCode(projection.get(), units.get()), 2193);
}

TEST(EPSGHelper, FailuresFollowTheirConventions) {
  LogCapture log;
  char sentinel = 0;
  char* units = &sentinel;
  _kprj_MapProjectionEx* projection = nullptr;
  try {
    GetProjAndUnitsFromEPSG(0, &projection, &units);
    ADD_FAILURE() << "code 0 did not throw";
  } catch (KerrExceptionA& e) {
    EXPECT_STREQ(e.what(), "Can not use EPSG code to get a valid mapProjection");
    EXPECT_EQ(e.source(), "EPSGHelper");
    EXPECT_EQ(e.label(), "GetProjAndUnitsFromEPSG");
    Report(e.releaseReport());
  }
  EXPECT_EQ(units, nullptr);
  EXPECT_EQ(projection, nullptr);
  EXPECT_THROW(GetProjAndUnitsFromEPSG(3857, &projection, &units), std::runtime_error);
  EXPECT_EQ(projection, nullptr);
  EXPECT_TRUE(log.lines.empty());

  // A projection the translator rejects (Space Oblique Mercator has no EPSG
  // form), and one the record conversion rejects (none at all).
  Pro pro(kprj_ProParametersCreateByName("Space Oblique Mercator", nullptr));
  ASSERT_NE(pro, nullptr);
  ASSERT_TRUE(kprj_SpheroidByName(kint_GetInit(), "WGS 84", pro->spheroid, nullptr));
  Projection rejected(kprj_ProjectionInit(kint_GetInit(), pro.get(), nullptr));
  const _kprj_MapProjectionEx* inputs[] = {rejected.get(), nullptr};
  for (const _kprj_MapProjectionEx* input : inputs) {
    log.lines.clear();
    EXPECT_EQ(GetEPSGCode(input, "meters"), 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("GetEPSGCode"), std::string::npos) << log.lines[0];
  }
}

// Registered before the translator exists, this handler runs after the
// translator's exit-time destruction.
void useAfterExit() {
  _kprj_MapProjectionEx* projection = nullptr;
  char* units = nullptr;
  try {
    GetProjAndUnitsFromEPSG(4326, &projection, &units);
  } catch (const std::logic_error& e) {
    fprintf(stderr, "%s\n", e.what());
    _Exit(3);
  }
  _Exit(4);
}

TEST(EPSGHelperDeathTest, DeadReferenceAfterExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit(useAfterExit);
        _kprj_MapProjectionEx* projection = nullptr;
        char* units = nullptr;
        GetProjAndUnitsFromEPSG(4326, &projection, &units);
        kprj_ProjectionFree(&projection, nullptr);
        kmsc_HeapFree(units);
        std::exit(0);
      },
      ::testing::ExitedWithCode(3), "Dead Reference Detected");
}

}  // namespace
