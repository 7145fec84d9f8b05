// The portable half of the system utilities: registry paths named as one
// text, the reversible scrambling of information pages, and the slice
// arithmetic of waiting.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig, DynData };

// Full and short names, any case; anything else is the current user.
RegRoot RegRootFromName(const std::string& name);

struct RegPath {
  RegRoot root = RegRoot::CurrentUser;
  std::string subKey;
};
// "HKLM\Software\X" or "HKEY_LOCAL_MACHINE\Software\X"; a path that does not
// begin with "HK" is a sub-key of the current user.
RegPath SplitRegPath(const std::string& path);

inline constexpr char kScrambleMarker[] = "Scrambled=01";

// scramble: an unmarked text becomes the marker, a key character and the
// scrambled bytes (hex: as hexadecimal pairs). Restoring takes a marked text
// back. Any other input is returned unchanged.
std::string ScrambleText(const std::string& text, bool scramble, bool hex);
// The same with a chosen key (33..122) instead of a random one.
std::string ScrambleTextWithKey(const std::string& text, bool scramble, bool hex, int key);

// The slice WaitYielding uses: as given, or for 0 a tenth of the total kept
// within 1..25 ms.
std::uint32_t YieldSliceMs(std::uint32_t slice, std::int64_t total);

}  // namespace havrek
