// Process entry of Stub.exe.
#include <windows.h>

#include "agent/Settings.h"
#include "diag/HDebug.h"
#include "diag/HDebugWin.h"
#include "launcher/StubWin.h"
#include "package/SLangId.h"
#include "util/UtilsWin.h"
#include "util/WinCompat.h"

namespace {

// A setup is usually started from a Downloads folder, where anybody may have
// left a DLL with a system library's name. Before any library is loaded by
// name, take them from the system folder only. SetDefaultDllDirectories is
// missing on old systems; there, at least drop the current folder.
void RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryA("");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictLibrarySearch();
  havrek::StartDebugChannel();
  // Unwinding out of the entry would end the run in the runtime's abort box;
  // it ends with the exit code reached so far instead.
  havrek::ReportingExceptions("WinMain", [] {
    havrek::InitProcessCommandLine();
    havrek::InstallSystemLanguage();
    havrek::BindSettingsToIniFiles();
    havrek::SetExitCode(havrek::RunStub());
  });
  return havrek::ExitCode();
}
