#include <windows.h>

#include "agent/AgentState.h"
#include "agent/OfferCheck.h"
#include "agent/ProcessWin.h"
#include "agent/Settings.h"
#include "agent/StubAU.h"
#include "agent/StubAUFetch.h"
#include "agent/StubInformDlg.h"
#include "agent/UpdateShortcuts.h"
#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "environment/PathMacros.h"
#include "environment/PathMacrosWin.h"
#include "net/InetHTTP.h"
#include "package/PackX.h"
#include "setup/StubSetup.h"
#include "setup/StubSetupFolder.h"
#include "ui/HMsgBox.h"
#include "util/HSUB.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"

namespace havrek {
namespace {

// Field 0 of the update record: where the .info file and, by default, the
// package come from.
std::string InfoLocation() { return SUB::GetField(OwnPackage().UpdateRecord(), 0); }

std::int64_t ExistingFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

const SizeLookup& SystemSizeLookup() {
  static const SizeLookup lookup{
      ExistingFileSize,
      [] { return IsInternetConnected(); },
      [](const std::string& url) { return HTTP_GetFileSize(url); },
  };
  return lookup;
}

int MsgCharset() { return static_cast<int>(GetMsgBoxCharSet()); }

bool Confirm(std::intptr_t owner, const std::string& text) {
  return ConfirmBox(owner, text, GetMsgBoxConfirm(), 0, MsgCharset(), GetMsgBoxBtnText());
}

void Notice(std::intptr_t owner, const std::string& text) {
  WarningBox(owner, text, GetMsgBoxAttention(), 0, MsgCharset(), GetMsgBoxBtnText());
}

void Marker(const char* text) { DebugLine(PidText() + " " + text); }

bool UserProbe() { return UserCheck() == UserCheckState::running; }

void StartProgram(const std::string& commandLine, int showMode) {
  // Failures are not reported: there is nobody to tell in the background.
  RunProcess(commandLine, showMode);
}

void JustFetchInfo() {
  NotifyListener(kNotifyInfoFetch, 1);
  if (DownloadFileAU(InfoLocation(), GetInfoFileName(), FetchKind::info).success) DiagnoseOffer(GetInfoFileName());
  NotifyListener(kNotifyInfoFetch, 2);
}

void ApplyMsgBoxFont() {
  SetMsgBoxFont(GetMsgBoxFontName(), static_cast<int>(GetMsgBoxFontSize()), MsgCharset());
}

}  // namespace

AUDecision GetOkToPerformAU(bool fetched) {
  return DecideAU(fetched, AgentNowSeconds(), UserProbe(), TestMode(), TestModeLocation(), SystemSizeLookup());
}

void AgentTimerTick() {
  static const TickActions actions{
      JustFetchInfo,
      ApplyMsgBoxFont,
      [] { ::PostQuitMessage(0); },
      [] { return CheckTestMode(false); },
      AgentNowSeconds,
      AskCheckNow,
      PerformShot,
  };
  RunAgentTick(actions);
}

void AskCheckNow(ShotStatus& status) {
  const bool testMode = CheckTestMode(true);
  const std::string location = testMode ? TestModeLocation() : InfoLocation();
  const std::string question = CheckNowQuestion(GetAUText("s22"), GetAUText("s23"), GetAUText("s24"), location,
                                                testMode, GetOriginalProgramName());
  if (!Confirm(kOwnerPlain, question)) status = shotNone;
}

void PerformShot() {
  const std::int64_t now = AgentNowSeconds();
  DebugLine(PidText() + " Fire  " + DateTimeText(plat::Now()));
  CheckTestMode(true);
  SetAgentState(kAgentFetchingInfo);
  NotifyListener(kNotifyInfoFetch, 1);
  const FetchResult fetch = DownloadFileAU(InfoLocation(), GetInfoFileName(), FetchKind::info);
  NotifyListener(kNotifyInfoFetch, 2);
  SetProbeSecondsLast(now);
  if (fetch.success) DiagnoseOffer(GetInfoFileName());

  const AUDecision decision = GetOkToPerformAU(fetch.success);
  if (decision.due) {
    Marker("==== PerformShot-1 ====");
    RecordDueOffer(now);
    if (GetAutoInform() == 1) {
      PerformAutoInform();
    } else if (PerformAutoUpdate()) {
      ReStartAutoUpdateExe();
    }
    Marker("==== PerformShot-2 ====");
  }

  if (!UserProbe()) return;
  WaitYielding(0, 1000);
  if (const HWND window = MainWindowHandle()) ::ShowWindow(window, SW_HIDE);
  if (decision.due) return;

  ProbeReportInput in;
  in.due = decision.due;
  in.testMode = TestMode();
  in.connected = IsInternetConnected(&in.connectionError);
  in.fetchError = fetch.error;
  in.developerMode = DeveloperMode();
  in.reason = decision.reason;
  in.reasonText = decision.text;
  in.s2 = GetAUText("s2");
  in.s21 = GetAUText("s21");
  DebugLine(PidText() + " TestMode=" + BoolText(in.testMode) + " InternetConnected=" + BoolText(in.connected));
  const ProbeReport report = UserProbeReport(in);
  if (report.kind == ProbeReportKind::error)
    ErrorBox(kOwnerHeading, report.text, GetMsgBoxError(), MsgCharset(), GetMsgBoxBtnText());
  else if (report.kind == ProbeReportKind::warning)
    Notice(kOwnerPlain, report.text);
}

bool PerformAutoUpdate() {
  LogLine("PerformAutoUpdate() - START");
  bool installed = false;
  std::string program;
  const std::string programName = GetInfoProgramName();
  const bool userProbe = UserProbe();

  [&] {
    Marker("==== PerformAutoUpdate-4 ====");
    const std::string base = GetDownloadURL_UPDATE();
    const std::string updateFile = GetNameOfUpdateFile();
    if (base.empty() || updateFile.empty()) return;

    Marker("==== PerformAutoUpdate-5 ====");
    const bool confirmInstall = GetAUOption(auoConfirmInstall);
    const bool forcedDownload = GetAUOption(auoForcedDownloadNotice);
    const std::string downloadQuestion = DownloadQuestion(GetAUText("s11"), GetAUText("s12"), GetAUText("s13"),
                                                          GetAUText("s18"), GetAUText("s19"), confirmInstall,
                                                          forcedDownload, programName);
    bool go = true;
    if (GetAUOption(auoConfirmDownload) && !userProbe) {
      if (forcedDownload)
        Notice(kOwnerNoClose, downloadQuestion);
      else
        go = Confirm(kOwnerHeading, downloadQuestion);
    }
    WaitYielding(0, 500);
    if (!go) return;

    Marker("==== PerformAutoUpdate-6 ====");
    SetAgentState(kAgentFetchingPackage);
    NotifyListener(kNotifyPackageFetch, 1);
    const FetchResult fetch = DownloadFileAU(base, updateFile, FetchKind::update, GetSizeOfUpdateFile());
    bool fetched = fetch.success;
    NotifyListener(kNotifyPackageFetch, 2);

    const bool forcedInstall = GetAUOption(auoForcedInstallNotice);
    const std::string installQuestion =
        ReplaceAll(GetAUText(forcedInstall ? "s20" : "s14"), "PROG_NAME", programName);
    if (fetched && confirmInstall && !userProbe) {
      if (forcedInstall)
        Notice(kOwnerNoClose, installQuestion);
      else
        fetched = Confirm(kOwnerHeading, installQuestion);
    }
    WaitYielding(0, 100);
    if (!fetched) {
      DropFetched(fetch);
      return;
    }

    Marker("==== PerformAutoUpdate-7 ====");
    SetInstallFolders(GetTargetDir(), GetSharedDir(), GetAuxiliaryDir());
    program = ExpandMacros(GetRunningProcess(), "\\");

    const ShutDownResult stop =
        ShutDownProcess(program, GetShutDownMethod(), TestMode() ? kTestModeStopWaitMs : kUnattendedStopWaitMs);
    const bool restart = ShouldRestart(GetAUOption(auoRestartProcess), stop.wasRunning, stop.stillRunning);

    // Run where it was checked: no file of the agent's folder is ever taken
    // for the package, nor deleted after it.
    const std::string package = fetch.path;
    if (stop.putOff) {
      // Installing over a running program would leave it half replaced; the
      // offer comes again at its re-ask time or with a new Stamp.
      LogLine("PerformAutoUpdate() - put off: the program still runs");
      DropFetched(fetch);
      return;
    }
    const std::string extraSwitch = OriginalInfoSwitch(GetInfoFileName());
    SetAgentState(kAgentInstalling);
    NotifyListener(kNotifyInstall, 1);

    const UpdateShortcuts shortcuts = ReadUpdateShortcuts();
    Marker("==== PerformAutoUpdate-10 ====");
    installed = ExtractAndRun(SetupFolder(), package, OwnPackage().AgentFileName(), extraSwitch,
                              !GetAUOption(auoBackgroundUpdate));
    DropSetupFolder();

    Marker("==== PerformAutoUpdate-11 ====");
    NotifyListener(kNotifyInstall, 2);
    if (installed) {
      SetVersionOriginal(GetVersionNew());
      RemoveUpdateShortcuts(shortcuts, SystemShortcutActions());
    }
    DropFetched(fetch);

    const std::string finish = ReplaceAll(GetAUText("s16"), "PROG_NAME", programName);
    bool again = true;
    if (installed && (GetAUOption(auoInformFinish) || userProbe)) {
      if (restart)
        again = Confirm(kOwnerPlain, finish + GetAUText("s17"));
      else
        Notice(kOwnerPlain, finish);
    }

    Marker("==== PerformAutoUpdate-12 ====");
    DebugLine(BoolText(restart) + " " + BoolText(again) + " >" + program + "<");
    if (restart && again) StartProgram(RestartCommand(program), SW_SHOW);
  }();

  Marker("==== PerformAutoUpdate-13 ====");
  LogLine("PerformAutoUpdate() - END    Result=" + BoolText(installed));
  return installed;
}

void ReStartAutoUpdateExe() {
  LogLine(".. ReStartAutoUpdateExe() - Start");
  if (QuitCountdown() <= 0) {
    const std::string command = FreshAgentCommand(ExeDir(true), OwnPackage().AgentFileName(), AUOptionsToText(), Unattended());
    LogLine(".. WinExec - " + command);
    StartProgram(command, SW_HIDE);
    WaitYielding(0, 1000);
    LogLine(".. PostMessage(WM_DESTROY)");
    ::PostMessageA(MainWindowHandle(), WM_DESTROY, 0, 0);
  }
  LogLine(".. ReStartAutoUpdateExe() - End");
}

}  // namespace havrek
