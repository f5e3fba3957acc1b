#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "host_owners.h"

TEST(Kgda, ElementsLiveAtTheirStridesAndConvertThroughThePixelType) {
  Matrix owner(kgda_BaseDataCreate(2, 3, KMSC_PIXEL_F64, 2, 0, nullptr));
  ASSERT_NE(owner, nullptr);
  KgdaBaseData* m = owner.get();
  EXPECT_EQ(kgda_BaseDataValueCount(m), 6);
  EXPECT_EQ(kgda_BaseDataGet(m, 1, 2), 0.0);
  EXPECT_EQ(kgda_BaseDataSet(m, 1, 2, 12.5), 1);
  double raw;
  std::memcpy(&raw, static_cast<char*>(m->data) + 1 * m->rowStride + 2 * m->columnStride, 8);
  EXPECT_EQ(raw, 12.5);
  // Out of range: NaN and failure, nothing written.
  EXPECT_TRUE(std::isnan(kgda_BaseDataGet(m, 2, 0)));
  EXPECT_EQ(kgda_BaseDataSet(m, 0, 3, 1), 0);

  // Pixel type, value stored, value read back.
  const std::tuple<int32_t, double, double> cases[] = {{KMSC_PIXEL_U8, 300, 255},
                                                       {KMSC_PIXEL_S16, -3.6, -4},
                                                       {KMSC_PIXEL_U1, 0.7, 1},
                                                       {KMSC_PIXEL_F32, 0.1, 0.1f},
                                                       {KMSC_PIXEL_S32, NAN, 0}};
  for (const auto& [type, stored, read] : cases) {
    Matrix v(kgda_BaseDataCreate(3, 1, type, 1, 0, nullptr));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(kgda_BaseDataSet(v.get(), 2, 0, stored), 1);
    EXPECT_EQ(kgda_BaseDataGet(v.get(), 2, 0), read) << "type " << type;
    EXPECT_EQ(kgda_BaseDataGet(v.get(), 1, 0), 0.0);  // the neighbour is untouched
  }
}

TEST(Kgda, RejectsBadShapesAndAbsurdSizes) {
  // Rows, columns, pixel type, rank, flags, message.
  const std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t, const char*> cases[] = {
      {-1, 2, 10, 2, 0, "Args"},
      {2, 2, 11, 2, 0, "Args"},
      {2, 2, 10, 3, 0, "Args"},
      // (2^31 - 1)^2 doubles do not fit in 64 bits of bytes.
      {INT32_MAX, INT32_MAX, 10, 2, 0, "Matrix too large (2147483647 x 2147483647)"}};
  for (const auto& [rows, columns, type, rank, flags, message] : cases) {
    Report err;
    EXPECT_EQ(Matrix(kgda_BaseDataCreate(rows, columns, type, rank, flags, out(err))), nullptr);
    EXPECT_STREQ(kerr_ReportMessage(err.get()), message);
  }
  Matrix empty(kgda_BaseDataCreate(0, 5, KMSC_PIXEL_U8, 2, 0, nullptr));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(kgda_BaseDataValueCount(empty.get()), 0);
  EXPECT_EQ(kgda_BaseDataSet(empty.get(), 0, 0, 1), 0);
}
