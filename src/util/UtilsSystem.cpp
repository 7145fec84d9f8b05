#include "util/UtilsSystem.h"

#include <algorithm>
#include <cstdlib>

#include "util/Utils.h"

namespace havrek {

RegRoot RegRootFromName(const std::string& name) {
  struct Entry {
    const char* full;
    const char* brief;
    RegRoot root;
  };
  static constexpr Entry kRoots[] = {
      {"HKEY_CLASSES_ROOT", "HKCR", RegRoot::ClassesRoot},
      {"HKEY_CURRENT_USER", "HKCU", RegRoot::CurrentUser},
      {"HKEY_LOCAL_MACHINE", "HKLM", RegRoot::LocalMachine},
      {"HKEY_USERS", "HKU", RegRoot::Users},
      {"HKEY_CURRENT_CONFIG", "HKCC", RegRoot::CurrentConfig},
      {"HKEY_DYN_DATA", "HKDD", RegRoot::DynData},
  };
  const std::string upper = UpperCase(name);
  for (const Entry& e : kRoots)
    if (upper == e.full || upper == e.brief) return e.root;
  return RegRoot::CurrentUser;
}

RegPath SplitRegPath(const std::string& path) {
  RegPath result;
  const std::string p = Trim(path);
  result.subKey = p;
  if (!StartsWith("HK", p, true)) return result;
  const std::size_t slash = p.find('\\');
  if (slash == std::string::npos) {
    result.root = RegRootFromName(p);
    result.subKey.clear();
  } else {
    result.root = RegRootFromName(p.substr(0, slash));
    result.subKey = p.substr(slash + 1);
  }
  return result;
}

std::string ScrambleTextWithKey(const std::string& text, bool scramble, bool hex, int key) {
  if (text.empty()) return text;
  std::string s = (!scramble && hex) ? HexToBytes(text) : text;
  const std::size_t markerSize = sizeof kScrambleMarker - 1;
  const bool marked = s.compare(0, markerSize, kScrambleMarker) == 0;
  if (marked != !scramble) return text;
  long long k = key;
  if (!scramble) {
    // The marker without a key character carries nothing to restore.
    if (s.size() <= markerSize) return std::string();
    k = static_cast<unsigned char>(s[markerSize]);
    s.erase(0, markerSize + 1);
  }
  for (std::size_t i = 1; i <= s.size(); ++i) {
    const long long mask = (static_cast<long long>(i) + k) & 0xFF;
    s[i - 1] = static_cast<char>(static_cast<unsigned char>(s[i - 1]) ^ mask);
    k = -k;
  }
  if (!scramble) return s;
  const std::string out = kScrambleMarker + std::string(1, static_cast<char>(std::llabs(k))) + s;
  return hex ? BytesToHex(out, false, false) : out;
}

std::string ScrambleText(const std::string& text, bool scramble, bool hex) {
  return ScrambleTextWithKey(text, scramble, hex, static_cast<int>(RandomInRange(33, 122)));
}

std::uint32_t YieldSliceMs(std::uint32_t slice, std::int64_t total) {
  if (slice != 0) return slice;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(total / 10, 1, 25));
}

}  // namespace havrek
