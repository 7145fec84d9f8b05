#include "package/EntryName.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "util/Utils.h"

namespace havrek {
namespace {

bool IsDeviceName(const std::string& component) {
  std::string base = UpperCase(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const std::set<std::string> fixed = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  if (fixed.count(base)) return true;
  if (base.size() != 4 || !(base.starts_with("COM") || base.starts_with("LPT"))) return false;
  // Windows also reserves the superscript digits 1, 2 and 3 of code page 1252.
  const unsigned char digit = static_cast<unsigned char>(base[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

bool NormalizeTargetName(const std::string& name, std::string& normalized, std::string& error) {
  normalized.clear();
  if (name.empty()) return (error = "empty name"), false;
  const std::string path = ReplaceChar(name, '/', '\\');
  if (path[0] == '\\') return (error = "absolute or network path"), false;
  if (path.find(':') != std::string::npos) return (error = "drive letter or stream (\":\")"), false;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part.empty()) return (error = "empty path part"), false;
    if (part == "." || part == "..") return (error = "\"" + part + "\" part"), false;
    for (char c : part)
      if (static_cast<unsigned char>(c) < 32 || std::strchr("<>\"|?*", c))
        return (error = "character not allowed in file names"), false;
    if (part.back() == '.' || part.back() == ' ')
      return (error = "a part ending in \".\" or blank"), false;
    if (IsDeviceName(part)) return (error = "device name \"" + part + "\""), false;
    if (end == path.size()) break;
    start = end + 1;
  }
  normalized = path;
  return true;
}

bool CheckPlainFileName(const std::string& name, std::string& error) {
  std::string normalized;
  if (!NormalizeTargetName(name, normalized, error)) return false;
  if (normalized.find('\\') != std::string::npos) return (error = "a path, not a plain file name"), false;
  return true;
}

}  // namespace havrek
