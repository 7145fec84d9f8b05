#include "net/CommUtils.h"

#include <gtest/gtest.h>

namespace havrek {
namespace {

TEST(TBytesRate, SizesReadInTheUnitTheTotalCalls) {
  struct Case {
    std::int64_t total, received;
    const char* text;
  };
  const Case cases[] = {
      {102400, 5000, "5000/102400 Bytes"},
      {102401, 1536, "1.5/100.0 KB"},
      {10485760, 1024000, "1,000.0/10,240.0 KB"},
      {10485760, 1022976, "999.0/10,240.0 KB"},
      {10485761, 1048576, "1.0/10.0 MB"},
      {2147483648LL * 3, 1048576LL * 1500, "1,500.0/6,144.0 MB"},
      // An unknown total is taken as above both limits.
      {-1, 1048576, "1.0/-0.0 MB"},
  };
  for (const Case& c : cases) {
    TBytesRate meter = MeterForTotal(c.total);
    EXPECT_EQ(meter.ProgressText(c.total, c.received, 100, 1000), c.text) << c.total;
  }
}

TEST(TBytesRate, NoRateUntilTheFifthUpdate) {
  TBytesRate meter(false, false);
  std::uint32_t now = 1000;
  for (int i = 1; i <= 4; ++i, now += 100)
    EXPECT_EQ(meter.ProgressText(10000, i * 1024, 1024, now), std::to_string(i * 1024) + "/10000 Bytes") << i;
  // Four reads of 1 KB over 400 ms.
  EXPECT_EQ(meter.ProgressText(10000, 5120, 1024, now), "5120/10000 Bytes   -   10.00 KB/Sec");
}

TEST(TBytesRate, TheRateIsKeptForHalfASecond) {
  TBytesRate meter(true, false);
  std::uint32_t now = 1000;
  for (int i = 0; i < 5; ++i, now += 100) meter.RateText(1024, now);
  ASSERT_EQ(meter.RateText(1024, now), "10.00");  // not refreshed: only 100 ms later
  now += 100;
  EXPECT_EQ(meter.RateText(4096, now), "10.00");
  now += 400;  // 600 ms after the first rate: 10 KB over the last 700 ms
  EXPECT_EQ(meter.RateText(4096, now), "14.29");
}

TEST(TBytesRate, NoRateWithoutElapsedTime) {
  TBytesRate meter(false, false);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(meter.RateText(500, 5000), "") << i;
}

TEST(TBytesRate, TheTickCountMayWrapDuringATransfer) {
  const auto texts = [](std::uint32_t base) {
    TBytesRate meter(false, false);
    std::string all;
    for (std::uint32_t i = 0; i < 20; ++i) all += meter.RateText(1024 * (i % 3 + 1), base + i * 150) + ";";
    return all;
  };
  const std::string plain = texts(1000);
  ASSERT_NE(plain.find('.'), std::string::npos) << plain;  // rates were computed
  EXPECT_EQ(texts(0xFFFFFFFFu - 1000), plain);
}

TEST(TBytesRate, ResetStartsOver) {
  TBytesRate meter(false, false);
  std::uint32_t now = 1000;
  for (int i = 0; i < 5; ++i, now += 100) meter.RateText(1024, now);
  ASSERT_FALSE(meter.RateText(1024, now += 600).empty());
  meter.Reset();
  for (int i = 0; i < 4; ++i, now += 600) EXPECT_EQ(meter.RateText(1024, now), "") << i;
}

}  // namespace
}  // namespace havrek
