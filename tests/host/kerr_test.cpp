#include <gtest/gtest.h>
#include "kerr.h"
TEST(Kerr, Placeholder) { EXPECT_EQ(kerr_ReportChainLength(nullptr), 0); }
