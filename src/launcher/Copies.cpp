#include "launcher/Copies.h"

#include <windows.h>

#include "diag/HDebug.h"
#include "setup/EngineCommand.h"
#include "setup/StubSetup.h"
#include "setup/StubSetupFolder.h"
#include "util/Utils.h"

namespace havrek {

// Making the agent copy and forwarding commands arrive with the agent; until
// then each entry only marks that it was reached.
void CreateAndRun_X_Exe() { DebugLine("CreateAndRun_X_Exe"); }
void HandleParamOK(bool wasRunning) { DebugLine("HandleParamOK"); }

void SpanRelaunch() {
  const std::string exe = ExePath();
  const std::string folder = SetupFolder();
  if (folder.empty()) return;
  const std::string copy = SetTrailingBackslash(folder, true) + "Y_" + FileNamePart(exe);
  // A copy that cannot be replaced (one still running) is started as it is.
  ::CopyFileA(exe.c_str(), copy.c_str(), FALSE);
  std::string cmd = SpanCopyCommandLine(copy, GetCmdLineArgs(), exe);
  DebugLine(PidText() + " ==== SpanRelaunch >>" + cmd + "<<");

  // The copy inherits the hold on its folder: the folder stays held from
  // this process to the copy, with no moment in which another run could
  // take it, and the copy lets go only when it ends.
  if (HANDLE hold = SetupFolderHold()) ::SetHandleInformation(hold, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    DebugLine(PidText() + " ==== SpanRelaunch: cannot start the copy");
    return;
  }
  const KernelHandle process(pi.hProcess);
  const KernelHandle thread(pi.hThread);
}

}  // namespace havrek
