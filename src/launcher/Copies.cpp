#include "launcher/Copies.h"

#include <windows.h>

#include "agent/ProcessWin.h"
#include "agent/Settings.h"
#include "agent/StubAUCommands.h"
#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "launcher/MainWindow.h"
#include "launcher/StubWin.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "setup/EngineCommand.h"
#include "setup/SetupExit.h"
#include "setup/StubSetup.h"
#include "setup/StubSetupFolder.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"
#include "util/WinHandle.h"

namespace havrek {

namespace {

constexpr std::int64_t kCopyStartWaitMs = 3000;
constexpr std::uint32_t kCopyStartPollMs = 200;

bool StartHidden(std::string commandLine) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  const KernelHandle process(pi.hProcess);
  const KernelHandle thread(pi.hThread);
  return true;
}

// Every command is posted to the copy's main window, found by the copy's
// full path only: a bare file name would reach any program of that name.
bool PostToCopy(const std::string& copy, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostProcessMessage(copy, true, message, wParam, lParam);
}

}  // namespace

bool CreateAndRun_X_Exe() {
  LogLine("CreateAndRun_X_Exe() --- Start");
  bool started = false;
  const std::string zz = GetSwitch("/_ZZ=", "");
  DebugLine(PidText() + " CreateAndRun_X_Exe-1 " + zz);
  const std::string exe = ExePath(false);
  if (IsAutoUpdateProg() && !(X_ExeIsRunning() && zz != "99") &&
      SameTextTrim(FileNamePart(exe), OwnPackage().AgentFileName())) {
    DebugLine(PidText() + " CreateAndRun_X_Exe-2");
    const std::int64_t wait = GetSwitchInt("/WAIT=", 0);
    LogLine("Wait " + std::to_string(wait) + " SEC");
    if (wait > 0) WaitYielding(0, wait * 1000);

    const std::string copy = AgentCopyPath(exe);
    // A copy that is running cannot be replaced; the existing file is started.
    const bool copied = ::CopyFileA(exe.c_str(), copy.c_str(), FALSE) != FALSE;
    const DWORD copyError = copied ? 0 : ::GetLastError();
    LogLine("Create X_ File ");
    const std::string command =
        AgentCopyCommandLine(copy, GetSwitch("/TRANSIENT=", ""), GetSwitch("/DELAY=", ""), Unattended());
    LogLine("WinExec: " + command);
    started = StartHidden(command);
    if (!started) {
      const DWORD startError = ::GetLastError();
      LogLine("WinExec failed: " + std::to_string(startError));
      // Nobody watches an agent: what went wrong goes wherever it can be
      // read, and the exit code says it too.
      const std::string why = copied || plat::Exists(copy)
                                  ? "cannot start " + copy + ": " + SystemErrorText(startError)
                                  : "cannot write " + copy + ": " + SystemErrorText(copyError);
      DebugLine(PidText() + " CreateAndRun_X_Exe: " + why);
      LogLine("No agent copy runs: " + why);
      SetExitCode(kExitAgentCopyFailed);
    }

    // The commands that follow need the copy's window, not only its process:
    // a message posted before the window exists is lost.
    if (!Trim(GetCmdLineArgs()).empty()) {
      const std::int64_t t0 = TickMs();
      do {
        WaitYielding(kCopyStartPollMs, kCopyStartPollMs);
        if (IsProcessRunning(copy) && AgentCopyWindowExists()) break;
      } while (TickMs() <= t0 + kCopyStartWaitMs);
    }
  }
  LogLine("CreateAndRun_X_Exe() --- End");
  return started;
}

bool HandleParamOK(bool wasRunning) {
  LogLine("HandleParamOK() --- Start");
  bool posted = false;
  const std::string copy = AgentCopyPath(ExePath(false));
  const bool copyExists = plat::Exists(copy);

  const std::int64_t stop = GetSwitchInt("/STOP=", -1);
  if (stop >= 0 && copyExists) {
    LogLine("PostProcessMessage(wm_ShutDown) to: " + copy);
    PostToCopy(copy, wm_ShutDown, static_cast<WPARAM>(stop), 0);
    posted = true;
  }

  const std::string listener = GetSwitch("/WM_MSG=", "");
  if (!listener.empty() && copyExists) {
    const ListenerRequest r = ParseListenerRequest(listener);
    LogLine("PostProcessMessage(wm_LocalMsg) to: " + copy + " - :" + listener + ":");
    PostToCopy(copy, wm_LocalMsg, static_cast<WPARAM>(r.window), static_cast<LPARAM>(r.message));
    posted = true;
  }

  const std::int64_t test = GetSwitchInt("/TEST=", -1);
  if (test >= 0 && copyExists) {
    LogLine("PostProcessMessage(wm_AgentMsg) to: " + copy + " - AU_PerformUpdateCycle (" + std::to_string(test) +
            ")");
    PostToCopy(copy, wm_AgentMsg, kCmdForceProbe, static_cast<LPARAM>(test));
    // A copy started only for this probe quits after it.
    if (!wasRunning && test > 0) PostToCopy(copy, wm_ShutDown, 2, 0);
    posted = true;
  }

  const std::string options = GetSwitch("/TRANSIENTx=", "");
  if (!options.empty()) AUOptionsFromText(options);
  LogLine("HandleParamOK() --- End");
  return posted;
}

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
    // A deployment must not read 0 for a setup that never ran.
    if (Unattended()) SetExitCode(kExitWriteFailed);
    return;
  }
  const KernelHandle process(pi.hProcess);
  const KernelHandle thread(pi.hThread);

  // Asked, the user may have to change media, so this process ends at once.
  // Unattended, nobody changes a disk: a deployment tool waits for this
  // process, so it waits for the copy and hands on its code. The copy holds
  // the folder now; this process lets go so that the copy can remove it.
  if (!Unattended()) return;
  LetGoOfSetupFolder();
  const std::uint32_t code = WaitProcessEnd(process.get());
  DebugLine(PidText() + " ==== SpanRelaunch: the copy ended with " + std::to_string(code));
  SetExitCode(static_cast<int>(code));
}

}  // namespace havrek
