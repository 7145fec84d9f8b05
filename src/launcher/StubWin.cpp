#include "launcher/StubWin.h"

#include <windows.h>

#include <cstdint>
#include <memory>

#include "agent/AgentState.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "launcher/AgentHooks.h"
#include "launcher/AgentInstance.h"
#include "launcher/Copies.h"
#include "launcher/MainWindow.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "setup/SetupExit.h"
#include "setup/SetupSpace.h"
#include "setup/StubSetupFolder.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

std::string stubWindowClass;

bool TopWindowOfClassExists(const std::string& className) {
  return ::FindWindowA(className.c_str(), nullptr) != nullptr;
}

// How long a plain agent waits for another start of the same agent, and for
// the copy it started to take over; past it the copy's own mutex still keeps
// a second copy from working.
constexpr DWORD kAgentStartLockMs = 10000;
constexpr std::uint32_t kAgentPollMs = 50;

bool WaitForAgentCopyWindow(std::int64_t timeoutMs) {
  const std::int64_t end = TickMs() + timeoutMs;
  while (!AgentCopyWindowExists()) {
    if (TickMs() >= end) return false;
    WaitYielding(kAgentPollMs, kAgentPollMs);
  }
  return true;
}

std::string ExeFileName() { return FileNamePart(ExePath(false)); }

// A class name is an atom of at most 255 characters; a longer one fails to
// register and the run would end before it began. Such a name keeps its tail
// (the file name is the telling part) behind a digest of the whole, taken
// without case because class names compare without it.
constexpr std::size_t kMaxClassName = 255;

std::string BoundedClassName(const std::string& name) {
  if (name.size() <= kMaxClassName) return name;
  const std::string prefix = "~" + NameDigest(name) + "~";
  return prefix + name.substr(name.size() - (kMaxClassName - prefix.size()));
}

}  // namespace

const std::string& StubWindowClass() { return stubWindowClass; }

std::string StubWindowClassFor(bool autoUpdate, const std::string& exePath) {
  if (!autoUpdate) return BoundedClassName(exePath);
  // Agents of different products may share a file name (agent.exe): the
  // digest of the full path gives every installation a class of its own.
  return BoundedClassName(".AutoUpdate.~" + NameDigest(LongPathOf(exePath)) + "~" + FileNameNoExt(exePath, false));
}

bool AgentCopyWindowExists() { return TopWindowOfClassExists(StubWindowClassFor(true, InstallationCopyPath())); }

// The copy owns its mutex from its start, its window only a moment later.
bool X_ExeIsRunning() { return AgentCopyWindowExists() || AgentCopyInstanceHeld(); }

bool ThisIs_Plain_AutoUpdate_Exe() {
  return IsAutoUpdateProg() && SameTextTrim(ExeFileName(), OwnPackage().AgentFileName());
}

bool ThisIs_X_AutoUpdate_Exe() {
  return IsAutoUpdateProg() && SameTextTrim(ExeFileName(), "X_" + OwnPackage().AgentFileName());
}

bool SpanRelaunchNeeded() { return GetSwitchInt("/SpanCdLvl=", 1) == 1 && OwnPackage().Span(); }

bool IsSpanCopy() {
  // Both paths in their long form: the temporary folder may be reported in
  // short form while the copy was started by its long name, or the reverse.
  return SpanCopyRoleHolds(GetSwitchInt("/SpanCdLvl=", 1), OwnPackage().Span(), LongPathOf(ExePath(false)),
                           LongPathOf(TempDir(false)));
}

void DoRunStubWin() {
  // Before anything else: two starts of one agent at the same moment must
  // not both find no copy running.
  OwnedMutex agentLock;
  bool otherCopy = false;
  if (ThisIs_X_AutoUpdate_Exe()) {
    agentLock = TakeAgentMutex(kAgentInstanceMutex, 0);
    otherCopy = !agentLock;
  } else if (ThisIs_Plain_AutoUpdate_Exe()) {
    agentLock = TakeAgentMutex(kAgentStartMutex, kAgentStartLockMs);
  }

  LogLine("DoRunStubWin() --- Start");
  stubWindowClass = StubWindowClassFor(IsAutoUpdateProg(), ExePath(false));
  const bool wasRunning = X_ExeIsRunning();
  LogLine("X_ExeIsRunning=" + BoolText(X_ExeIsRunning()));
  LogLine("ThisIs_Plain_AutoUpdate_Exe=" + BoolText(ThisIs_Plain_AutoUpdate_Exe()));
  LogLine("ThisIs_X_AutoUpdate_Exe=" + BoolText(ThisIs_X_AutoUpdate_Exe()));
  if (otherCopy) LogLine("Another copy of this agent runs");

  // One process per window class does the work; a later one only forwards
  // its commands (below) and ends.
  if (!otherCopy && !TopWindowOfClassExists(stubWindowClass)) {
    if (ThisIs_Plain_AutoUpdate_Exe()) {
      // The next start waits until this copy's window is there to take its
      // commands, and then finds it.
      if (CreateAndRun_X_Exe() && !WaitForAgentCopyWindow(kAgentStartLockMs))
        LogLine("The agent copy did not start in time");
    } else if (ThisIs_X_AutoUpdate_Exe()) {
      InstallAgentHooks();
      LogLine("CheckTestMode");
      CheckTestMode(true);
      LogLine("WinMain");
      WinMain();
      // The window is gone: a fresh copy (the update cycle's restart) may
      // take over while this one removes itself.
      agentLock.reset();
      LogLine("DeleteMySelf");
      DeleteMySelf(false);
    } else if (SpanRelaunchNeeded()) {
      SpanRelaunch();
    } else {
      // The span copy works in the folder it was copied into, which the
      // relaunching process handed over still held.
      const bool spanCopy = IsSpanCopy();
      if (spanCopy) AdoptSetupFolder(ExeDir(false));
      WinMain();
      if (spanCopy) DeleteMySelf(true);
    }
  }
  if (ThisIs_Plain_AutoUpdate_Exe()) {
    agentLock.reset();
    HandleParamOK(wasRunning);
  }
  LogLine("DoRunStubWin() --- End");
}

int RunStub() {
  const std::string commandLine = ProcessCommandLine();
  const std::string exePath = ExePath(false);
  DebugLine(PidText() + " ==== STUB START ====> " + commandLine + "<");

  SetOwnPackage(std::make_unique<TGFileInfo>(exePath));
  SetAutoUpdateProg(OwnPackage().AutoUpdate());
  SetLogEnabled(IsAutoUpdateProg() && OwnPackage().LogFile());
  if (ThisIs_X_AutoUpdate_Exe()) SetLogPrefix(" X ");
  SetLogFallbackDir(TempDir(false));

  LogLine("");
  LogLine("");
  LogLine("=== START === " + exePath);
  LogLine("CommandLine=" + commandLine);
  LogLine("Agent Version=" + FileVersionText(exePath));
  DebugLine(PidText() + " ==== ThisIs_AutoUpdateProg=" + BoolText(IsAutoUpdateProg()));
  // Before any role can ask the user anything.
  SetUnattended(HasSwitch(kQuietSwitch));

  DoRunStubWin();

  SetOwnPackage(nullptr);
  DebugLine(PidText() + " ==== STUB END ====> " + commandLine + "<");
  DebugLine("");
  LogLine("=== EXIT === " + exePath);
  LogLine("");
  return ExitCode();
}

}  // namespace havrek
