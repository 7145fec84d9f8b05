// Paths of the build tree as the tests under Wine must name them.
#pragma once

#include <string>

namespace havrek::test {

// CMake hands the build tree's Unix paths through; under Wine the root of the
// Unix file system is drive Z:.
inline std::string WinePath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

#ifdef HAVREK_FIXTURE_DIR
inline std::string FixturePath(const std::string& name) { return WinePath(HAVREK_FIXTURE_DIR) + "\\" + name; }
#endif

}  // namespace havrek::test
