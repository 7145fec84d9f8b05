// Paths of the build tree as the tests under Wine must name them.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "util/WinHandle.h"

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

// Starts the fixture program name with arguments (already quoted as they
// need); an empty handle when it did not start.
inline KernelHandle StartFixture(const std::string& name, const std::string& arguments) {
  std::string commandLine = "\"" + FixturePath(name) + "\" " + arguments;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
  const KernelHandle thread(pi.hThread);
  return KernelHandle(pi.hProcess);
}
#endif

// Serves the thread's queue without ending a later loop: a window's teardown
// posts the quit message, which a later test's loop would take for its own.
inline void DrainQuit() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The names of the files (not folders) in folder dir (ending in "\\"), sorted.
inline std::vector<std::string> FileNamesIn(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = ::FindFirstFileA((dir + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (::FindNextFileA(find, &found));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace havrek::test
