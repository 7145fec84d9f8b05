#include "util/UtilsDllWin.h"

#include "util/UtilsWin.h"
#include "util/WinCompat.h"

namespace havrek {
namespace {

// The search flags of LoadLibraryEx came with the same update as
// AddDllDirectory; older systems reject them as an invalid parameter.
bool HasDllSearchFlags() {
  static const bool has = [] {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
  }();
  return has;
}

}  // namespace

FARPROC LoadDllProc(const std::string& library, const std::string& proc, HMODULE* module) {
  if (module) *module = nullptr;
  // Only the system folder: a bare name would also be looked for in the
  // current and the application folder, where a download may have put a DLL
  // of the same name.
  if (library.empty() || library.find_first_of("\\/:") != std::string::npos) return nullptr;
  HMODULE loaded = nullptr;
  if (HasDllSearchFlags()) {
    loaded = ::LoadLibraryExA(library.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  } else {
    const std::string folder = SystemDir(true);
    if (!folder.empty())
      loaded = ::LoadLibraryExA((folder + library).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  if (!loaded) return nullptr;
  if (module) *module = loaded;
  return proc.empty() ? nullptr : ::GetProcAddress(loaded, proc.c_str());
}

FARPROC LoadDllProc(const std::string& library, const std::string& proc) {
  return LoadDllProc(library, proc, nullptr);
}

}  // namespace havrek
