#include "setup/StubSetup.h"

#include <exception>

#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "package/Integrity.h"
#include "package/PackX.h"
#include "package/UnPack.h"
#include "package/ZLibOpen.h"
#include "platform/Platform.h"
#include "setup/EngineCommand.h"
#include "setup/InternetSetup.h"
#include "setup/SetupExit.h"
#include "setup/StubSetupFolder.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsRegIniWin.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"

namespace havrek {
namespace {

constexpr char kSpanDiskKey[] = "HKEY_CURRENT_USER\\Software\\Morvessa\\Havrek\\SpanDisk";
// A stale atom can only be left by a stub that died mid-run; the loop that
// clears it must end even if the system keeps answering.
constexpr int kMaxStaleAtomRefs = 64;

void ShowMain(int command) {
  if (HWND main = MainWindowHandle()) ::ShowWindow(main, command);
}

// Ends the run with code after telling the user why (no box when text is empty).
void Fail(const TGFileInfo& reader, int code, const std::string& text) {
  SetExitCode(code);
  DebugLine(PidText() + " ==== setup failed (" + IntText(code) + ")");
  if (!text.empty())
    ErrorBox(kOwnerHeading, text, reader.GetText("Error"), reader.Charset(), reader.GetText("BtnText"));
}

void DropStaleEngineAtom(const std::string& name) {
  for (int i = 0; i < kMaxStaleAtomRefs; ++i) {
    const ATOM stale = ::GlobalFindAtomA(name.c_str());
    if (!stale) return;
    ::GlobalDeleteAtom(stale);
  }
}

// Steps after a successful unpack: start the engine, wait for it and its last
// dialog, and read the handshake. True when the engine removed the atom;
// notStarted when the system refused to start it (reported here).
bool RunEngine(const TGFileInfo& reader, const std::string& target, const std::string& runCommand,
               const std::string& stubArgs, bool foreground, bool& notStarted) {
  EngineCommandInput in;
  in.target = target;
  in.runCommand = runCommand;
  in.stubArgs = stubArgs;
  in.threadToken = ThreadToken();
  in.originExe = ExePath();
  in.autoUpdate = IsAutoUpdateProg();
  const std::string cmd = EngineCommandLine(in);

  DebugLine(PidText() + " ==== WinExec(Engine.exe) >>" + cmd + "<<");
  const std::string atomName = EngineAtomName();
  DropStaleEngineAtom(atomName);
  ::GlobalAddAtomA(atomName.c_str());

  DWORD startError = 0;
  KernelHandle process = RunProcess(cmd, foreground ? SW_SHOWNORMAL : SW_HIDE, &startError);
  ShowMain(SW_HIDE);
  if (!process) {
    // Not a program, a command line over the system's limit, no access: the
    // engine never ran, so there is no exit code of its to hand on.
    const GlobalAtom ours(::GlobalFindAtomA(atomName.c_str()));
    Fail(reader, kExitEngineNotStarted,
         SetTrailingBackslash(target, true) + SplitRunCommand(runCommand, std::string()).file +
             "<P><P>Unable to start the setup program!<P><P>" + SystemErrorText(startError));
    notStarted = true;
    return false;
  }
  WaitYielding(0, 1000);

  SetExitCode(static_cast<int>(WaitProcessEnd(process.get())));
  WaitWindowGone(EngineDialogClass());
  WaitYielding(0, 1000);

  const GlobalAtom left(::GlobalFindAtomA(atomName.c_str()));
  return !left;
}

bool ExtractAndRunFlow(std::string target, const std::string& package, const std::string& agent,
                       const std::string& stubArgs, bool foreground) {
  const TGFileInfo reader(package);
  bool done = false;

  if (reader.ActivityBar())
    if (HWND bar = ActivityBar()) ::ShowWindow(bar, SW_SHOW);
  SetStatusText(StatusLine(), reader.GetText("s1"), reader.FontName(), reader.FontSize(), reader.Charset());

  if (!HasRoomOnTemp(target, package) && FindAltTempBase()) {
    const std::string alt = AltSetupFolder();
    if (!alt.empty()) target = alt;
  }
  DebugLine("========= ForegroundOp=" + BoolText(foreground) + " ==========");

  const bool goAhead = !foreground || ConfirmTempSpace(target, reader);
  if (goAhead) {
    ExtractRequest request;
    request.packageFile = package;
    request.targetFolder = RemoveTrailingBackslash(target);
    request.agentFileName = agent;
    request.diskPrompt = reader.GetText("s8");
    request.diskPromptTitle = reader.GetText("Attention");
    request.buttons = reader.GetText("BtnText");
    request.charset = reader.Charset();
    request.forcePrompt = ReadRegString(kSpanDiskKey, "ForcePrompt", "0") == "1";
    request.unattended = Unattended();

    ExtractHooks hooks = WinExtractHooks();
    hooks.progress = [](int kind, std::int64_t maximum, std::int64_t position, std::int64_t step) {
      ProgressSink(kind, 0, static_cast<int>(maximum), static_cast<int>(position), static_cast<int>(step),
                   std::string());
    };
    hooks.askForDisk = [](const std::string& text, const std::string& title, int charset,
                          const std::string& buttons) {
      return OkCancelBox(kOwnerHeading, text, title, charset, buttons);
    };
    hooks.showError = [](const std::string& text) { ErrorBox(kOwnerHeading, text, std::string(), 0, std::string()); };

    if (foreground) ShowMain(SW_SHOW);
    WaitYielding(1, 1000);
    const ExtractResult result = Extract(request, hooks);
    WaitYielding(0, 1000);

    bool failed = true;
    if (result.damaged) {
      Fail(reader, kExitDamagedPackage,
           package + "<P><P>Unable to install: the setup file is incomplete or damaged.<P><P>" + result.damage);
    } else if (!result.checksumOk) {
      Fail(reader, kExitDamagedPackage, reader.GetText("s7"));
    } else if (!result.runRefused.empty()) {
      Fail(reader, kExitEngineNotStarted,
           package + "<P><P>Unable to run the setup program: it is not a file this setup unpacked.<P><P>" +
               result.runRefused);
    } else if (result.runSaveFailed) {
      // The save failure itself was reported by the extraction.
      Fail(reader, kExitWriteFailed, std::string());
    } else if (!result.runCommand.empty()) {
      failed = false;
      done = RunEngine(reader, target, result.runCommand, stubArgs, foreground, failed);
    } else {
      failed = false;  // a package of files only, or a disk request cancelled
    }
    // Nothing of a failed or refused package stays behind to be run later.
    if (failed) DeleteTree(target, false);
  }
  DropAltSetupFolder();
  return done;
}

}  // namespace

std::string ThreadToken() { return ThreadTokenFor(plat::ThreadId()); }
std::string EngineAtomName() { return EngineAtomNameFor(ThreadToken()); }
std::string EngineDialogClass() { return EngineDialogClassFor(ThreadToken()); }

bool RunsHidden() { return HasSwitch("/hide") || HasSwitch(kQuietSwitch) || OwnPackage().Silent(); }

KernelHandle RunProcess(const std::string& commandLine, int showMode, DWORD* error) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(showMode);
  PROCESS_INFORMATION pi = {};
  // CreateProcess may write into the command line it is given.
  std::string cmd = commandLine;
  if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    if (error) *error = ::GetLastError();
    return {};
  }
  KernelHandle thread(pi.hThread);
  return KernelHandle(pi.hProcess);
}

std::uint32_t WaitProcessEnd(HANDLE process) {
  if (!process) {
    WaitYielding(0, 500);
    return 0;
  }
  // Waits on the process itself: an exit code that happens to equal
  // STILL_ACTIVE (259) must not keep the stub waiting for ever.
  for (;;) {
    const DWORD r = ::MsgWaitForMultipleObjects(1, &process, FALSE, 100, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
    YieldX(0);
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) code = 0;
  return code;
}

bool ExtractAndRun(const std::string& target, const std::string& package, const std::string& agent,
                   const std::string& stubArgs, bool foreground) {
  // Runs inside a timer handler: nothing may leave it as an exception.
  try {
    return ExtractAndRunFlow(target, package, agent, stubArgs, foreground);
  } catch (const EZLibError& e) {
    ReportException("ExtractAndRun", e.what());
    SetExitCode(kExitDamagedPackage);
    const TGFileInfo reader(package);
    ErrorBox(kOwnerHeading, package + "<P><P>Unable to expand a compressed file!<P><P>" + e.what(),
             reader.GetText("Error"), reader.Charset(), reader.GetText("BtnText"));
  } catch (const std::exception& e) {
    // Whatever broke the walk, its files cannot be trusted to run.
    ReportException("ExtractAndRun", e.what());
    SetExitCode(kExitDamagedPackage);
  } catch (...) {
    ReportException("ExtractAndRun", "unknown exception");
    SetExitCode(kExitDamagedPackage);
  }
  // Half an extraction is of no use to anyone.
  DeleteTree(target, false);
  DropAltSetupFolder();
  return false;
}

void SetupTimerTick() {
  // A tick already queued may be served while the flow waits.
  static bool started = false;
  if (started) return;
  started = true;
  StopMainTimer();

  ReportingExceptions("SetupTimerTick", [] {
    TGFileInfo& own = OwnPackage();
    const std::string disk1 = GetSwitch("/SpanDiskFName1=", "");
    // The flags that choose the flow come from the own header. When the
    // files come from elsewhere (a download, the disks), no walk of this
    // file checks them: its record is checked here first.
    if (own.InternetSetup() || !disk1.empty()) {
      const IntegrityReport ownFile = CheckPackageIntegrity(ExePath(), false);
      if (!ownFile.Sound()) {
        Fail(own, kExitDamagedPackage,
             ExePath() + "<P><P>Unable to install: the setup file is incomplete or damaged.<P><P>" +
                 ownFile.files.back().error);
        return;
      }
    }
    const std::string agent = own.HasAgent() ? own.AgentFileName() : std::string();
    if (own.InternetSetup()) {
      RunInternetSetup(agent);
    } else {
      std::string package = ExePath();
      if (!disk1.empty()) package = disk1;
      ExtractAndRun(SetupFolder(), package, agent, GetCmdLineArgs(), !RunsHidden());
    }
  });
  DropSetupFolder();
  ::PostQuitMessage(0);
}

}  // namespace havrek
