#include "net/CommUtils.h"

#include <algorithm>

#include "util/Utils.h"

namespace havrek {

TBytesRate::TBytesRate(bool kbDisplay, bool mbDisplay) : kbDisplay_(kbDisplay), mbDisplay_(mbDisplay) {}

void TBytesRate::Reset() {
  ticks_.fill(0);
  bytes_.fill(0);
  rate_.clear();
  lastRateTick_ = 0;
}

std::string TBytesRate::RateText(std::uint32_t read, std::uint32_t nowMs) {
  std::rotate(ticks_.begin(), ticks_.begin() + 1, ticks_.end());
  ticks_.back() = nowMs;
  std::rotate(bytes_.begin(), bytes_.begin() + 1, bytes_.end());
  bytes_.back() = read;

  // Unsigned differences keep the span right across a wrap of the counter.
  const std::uint32_t span = ticks_.back() - ticks_.front();
  std::uint64_t sum = 0;
  for (std::size_t i = 1; i < kWindow; ++i) sum += bytes_[i];

  if (ticks_.front() != 0 && span != 0 && nowMs - lastRateTick_ > kRateRefreshMs) {
    lastRateTick_ = nowMs;
    const double rate = static_cast<double>(sum) / (span / 1000.0) / 1024.0;
    rate_ = FixedText(rate, 2);
  }
  return rate_;
}

std::string TBytesRate::ProgressText(std::int64_t total, std::int64_t received, std::uint32_t read,
                                     std::uint32_t nowMs) {
  std::string sizes;
  if (mbDisplay_)
    sizes = MBText(received, 1, true) + "/" + MBText(total, 1, true) + " MB";
  else if (kbDisplay_)
    sizes = KBText(received, 1, true) + "/" + KBText(total, 1, true) + " KB";
  else
    sizes = IntText(received) + "/" + IntText(total) + " Bytes";
  const std::string rate = RateText(read, nowMs);
  return rate.empty() ? sizes : sizes + "   -   " + rate + " KB/Sec";
}

TBytesRate MeterForTotal(std::int64_t total) {
  const std::uint64_t t = total < 0 ? 0xFFFFFFFFu : static_cast<std::uint64_t>(total);
  return TBytesRate(t > static_cast<std::uint64_t>(kKBDisplayAbove), t > static_cast<std::uint64_t>(kMBDisplayAbove));
}

}  // namespace havrek
