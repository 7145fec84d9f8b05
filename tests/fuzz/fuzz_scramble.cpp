// Scrambled information pages arrive from web servers: restoring arbitrary
// bytes must stay in bounds, and whatever is scrambled must come back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "diag/HDebug.h"
#include "util/UtilsSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  (void)havrek::ScrambleText(input, false, false);
  (void)havrek::ScrambleText(input, false, true);
  (void)havrek::SplitRegPath(input);
  (void)havrek::DebugFileText(input);
  (void)havrek::LogFilePathFor(input);

  const std::string marker = havrek::kScrambleMarker;
  if (input.compare(0, marker.size(), marker) == 0) return 0;
  const int key = size > 0 ? 33 + data[0] % 90 : 33;
  for (bool hex : {false, true}) {
    const std::string scrambled = havrek::ScrambleTextWithKey(input, true, hex, key);
    if (havrek::ScrambleText(scrambled, false, hex) != input) std::abort();
  }
  return 0;
}
