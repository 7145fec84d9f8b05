// The running figures of a transfer: how much of how much has arrived, and
// how fast the last reads came in.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace havrek {

// Updates more than this apart refresh the rate text; closer ones repeat it.
inline constexpr std::uint32_t kRateRefreshMs = 500;
// Above these totals the sizes read in KB and in MB.
inline constexpr std::int64_t kKBDisplayAbove = 102400;
inline constexpr std::int64_t kMBDisplayAbove = 10485760;

// One meter per transfer. The clock is passed in: milliseconds of a counter
// that may wrap at 32 bits, as the system tick count does.
class TBytesRate {
 public:
  TBytesRate(bool kbDisplay, bool mbDisplay);

  void Reset();
  // "received/total Bytes" (or KB, MB with one decimal and thousands
  // separators), followed by "   -   <rate> KB/Sec" once there is a rate.
  std::string ProgressText(std::int64_t total, std::int64_t received, std::uint32_t read, std::uint32_t nowMs);
  // KB per second over the last four reads, two decimals; empty for the first
  // four updates and kept between refreshes.
  std::string RateText(std::uint32_t read, std::uint32_t nowMs);

  bool kbDisplay() const { return kbDisplay_; }
  bool mbDisplay() const { return mbDisplay_; }

 private:
  static constexpr std::size_t kWindow = 5;
  std::array<std::uint32_t, kWindow> ticks_{};  // oldest first
  std::array<std::uint32_t, kWindow> bytes_{};
  bool kbDisplay_ = false;
  bool mbDisplay_ = false;
  std::string rate_;
  std::uint32_t lastRateTick_ = 0;
};

// The meter a download of `total` bytes uses. An unknown total (-1) is taken
// as the largest 32-bit size, so it reads in MB.
TBytesRate MeterForTotal(std::int64_t total);

}  // namespace havrek
