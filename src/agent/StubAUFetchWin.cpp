#include <windows.h>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "agent/StubAUFetch.h"
#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "net/HProgBar.h"
#include "net/InetHTTP.h"
#include "net/InetText.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsWaitWin.h"

namespace havrek {
namespace {

FetchTestModeProbe testModeProbe = nullptr;

bool AgentTestMode(std::string& location) {
  location = TestModeLocation();
  return TestMode();
}

// Lives to the end of the process, like the bars it drives.
TProgBar& FetchProgress() {
  static TProgBar progress(ProgressSink);
  return progress;
}

void ShowMain(int command) {
  if (HWND main = MainWindowHandle()) ::ShowWindow(main, command);
}

void AnimateFolderCopy() {
  ProgressSink(0, 0, kFolderCopySteps, 0, 1, std::string());
  for (int i = 0; i < kFolderCopySteps; ++i) {
    ProgressSink(1, 0, 0, 0, 0, std::string());
    WaitYielding(0, kFolderCopyStepMs);
  }
  ProgressSink(0, 0, 0, 0, 0, std::string());
}

int MsgBoxCharset() { return static_cast<int>(GetMsgBoxCharSet()); }

}  // namespace

void SetFetchTestModeProbe(FetchTestModeProbe probe) { testModeProbe = probe; }

bool SamePageToken(const std::string& path) {
  return SamePageTokenText(ReadFileText(path), OwnPackage().UpdateTokenRaw());
}

FetchResult DownloadFileAU(const std::string& base, const std::string& givenName, int kind) {
  FetchResult result;
  std::string location;
  const bool testMode = (testModeProbe ? testModeProbe : AgentTestMode)(location);
  if (!testMode) location = base;

  std::string name, reason;
  if (!FetchFileName(givenName, name, reason)) {
    result.error = "file name \"" + givenName + "\" refused: " + reason;
    DebugLine(PidText() + " DownloadFileAU: " + result.error);
    LogLine("ERROR: " + result.error);
    return result;
  }

  std::string source = FolderSource(location, name);
  DebugLine(PidText() + " DownloadFileAU: " + source);
  LogLine("TestMode=" + BoolText(testMode));
  LogLine("Download START: " + source);

  const bool confirmDownload = GetAUOption(auoConfirmDownload);
  const bool userProbe = UserCheck() == 1;
  const bool showWindow = ShowsMainWindow(kind, confirmDownload, userProbe);
  if (showWindow) ShowMain(SW_SHOW);
  SetStatusText(StatusLine(), GetAUText(FetchStatusKey(kind)), GetMsgBoxFontName(),
                static_cast<int>(GetMsgBoxFontSize()), MsgBoxCharset());

  const std::string target = ExeDir(true) + name;
  std::string content;
  std::string detail;
  if (plat::Exists(source)) {
    content = ReadFileText(source);
    if (kind != fkInfo) {
      // Checking the token of whatever lay there before would pass off an
      // old package as the new one.
      if (content.empty())
        result.error = ReadFailedText(name, "nothing read from " + source);
      else if (!WriteFileText(target, content))
        result.error = ReadFailedText(name, "cannot write " + target);
      else if (showWindow)
        AnimateFolderCopy();
    }
  } else if (!testMode && IsInternetConnected(&detail)) {
    WaitYielding(0, kWebFetchPauseMs);
    source = WebSource(location, name);
    SetDownloadAbort(false);
    TProgBar& progress = FetchProgress();
    DownloadResult got = HTTP_DownloadFile(userProbe ? MainWindowHandle() : nullptr, source,
                                           kind == fkInfo ? std::string() : target, &progress);
    result.error = got.error;
    content = std::move(got.body);
    WaitYielding(0, kWebFetchPauseMs);
  } else if (kind != fkInfo) {
    // Nothing arrived, so there is nothing whose token could be foreign.
    result.error = NothingFetchedText(source, testMode, detail);
  }

  if (showWindow) ShowMain(SW_HIDE);
  LogLine("Download END:   " + source);

  if (kind == fkInfo) {
    const FetchOutcome outcome = FinishInfoFetch(result.error, content, source);
    // A failed fetch leaves an empty .info file, so that no stale offer is
    // read as the new one.
    WriteFileText(target, content);
    result.success = outcome.success;
    result.error = outcome.error;
    return result;
  }

  if (result.error.empty()) {
    result.success = kind == fkUpdate ? OwnPackage().SameUpdateToken(target) : SamePageToken(target);
    if (!result.success) {
      std::string message = kBadSecretTokenText;
      NotFoundMessage(target, std::string(), source, message);
      ::DeleteFileA(target.c_str());
      LogLine("ERROR: " + message);
      ErrorBox(kOwnerHeading, message, GetMsgBoxError(), MsgBoxCharset(), GetMsgBoxBtnText());
    }
  } else {
    const FetchFailureTexts texts{GetAUText("s3"), GetAUText("s4"), GetAUText("s5")};
    const std::string message =
        DownloadFailureMessage(result.error, source, confirmDownload, DownloadAborted(), texts);
    if (!message.empty()) {
      LogLine("ATTENTION: " + message);
      WarningBox(kOwnerHeading, message, GetMsgBoxAttention(), 0, MsgBoxCharset(), GetMsgBoxBtnText());
    }
  }
  return result;
}

}  // namespace havrek
