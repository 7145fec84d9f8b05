// Every draw of RandomInRange gives the lowest number while one is alive, so
// that two draws compare equal: what keeps two failures apart must be
// something other than chance.
#pragma once

#include <cstdint>

#include "util/Utils.h"

namespace havrek::test {

class RepeatableRandom {
 public:
  RepeatableRandom() : before_(SetRandomSource([](std::int64_t low, std::int64_t) { return low; })) {}
  RepeatableRandom(const RepeatableRandom&) = delete;
  RepeatableRandom& operator=(const RepeatableRandom&) = delete;
  ~RepeatableRandom() { SetRandomSource(before_); }

 private:
  RandomSource before_;
};

}  // namespace havrek::test
