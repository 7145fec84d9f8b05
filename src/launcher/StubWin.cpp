#include "launcher/StubWin.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "agent/AgentState.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "launcher/AgentHooks.h"
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
#include "util/UtilsWin.h"

namespace havrek {
namespace {

std::string stubWindowClass;

bool TopWindowOfClassExists(const std::string& className) {
  return ::FindWindowA(className.c_str(), nullptr) != nullptr;
}

std::string ExeFileName() { return FileNamePart(ExePath(false)); }

std::string LongPathOf(const std::string& path) {
  char buffer[MAX_PATH * 4] = {};
  const DWORD n = ::GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

// A class name is an atom of at most 255 characters; a longer one fails to
// register and the run would end before it began. Such a name keeps its tail
// (the file name is the telling part) behind a digest of the whole, taken
// without case because class names compare without it.
constexpr std::size_t kMaxClassName = 255;

std::string BoundedClassName(const std::string& name) {
  if (name.size() <= kMaxClassName) return name;
  std::uint64_t digest = 14695981039346656037ull;
  for (const char c : UpperCase(name)) {
    digest ^= static_cast<unsigned char>(c);
    digest *= 1099511628211ull;
  }
  char head[20];
  std::snprintf(head, sizeof head, "~%016llX~", static_cast<unsigned long long>(digest));
  const std::string prefix(head);
  return prefix + name.substr(name.size() - (kMaxClassName - prefix.size()));
}

}  // namespace

const std::string& StubWindowClass() { return stubWindowClass; }

std::string StubWindowClassFor(bool autoUpdate, const std::string& exePath) {
  return BoundedClassName(autoUpdate ? ".AutoUpdate." + FileNameNoExt(exePath, false) : exePath);
}

bool X_ExeIsRunning() {
  return TopWindowOfClassExists(StubWindowClassFor(true, "X_" + FileNamePart(OwnPackage().AgentFileName())));
}

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
  LogLine("DoRunStubWin() --- Start");
  stubWindowClass = StubWindowClassFor(IsAutoUpdateProg(), ExePath(false));
  const bool wasRunning = X_ExeIsRunning();
  LogLine("X_ExeIsRunning=" + BoolText(X_ExeIsRunning()));
  LogLine("ThisIs_Plain_AutoUpdate_Exe=" + BoolText(ThisIs_Plain_AutoUpdate_Exe()));
  LogLine("ThisIs_X_AutoUpdate_Exe=" + BoolText(ThisIs_X_AutoUpdate_Exe()));

  // One process per window class does the work; a later one only forwards
  // its commands (below) and ends.
  if (!TopWindowOfClassExists(stubWindowClass)) {
    if (ThisIs_Plain_AutoUpdate_Exe()) {
      CreateAndRun_X_Exe();
    } else if (ThisIs_X_AutoUpdate_Exe()) {
      InstallAgentHooks();
      LogLine("CheckTestMode");
      CheckTestMode(true);
      LogLine("WinMain");
      WinMain();
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
  if (ThisIs_Plain_AutoUpdate_Exe()) HandleParamOK(wasRunning);
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
