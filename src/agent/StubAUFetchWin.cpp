#include <windows.h>

#include <string>
#include <vector>

#include "agent/AgentState.h"
#include "agent/OfferTrust.h"
#include "agent/Settings.h"
#include "agent/SignedOffer.h"
#include "agent/StubAUFetch.h"
#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "net/HProgBar.h"
#include "net/InetHTTP.h"
#include "net/InetText.h"
#include "package/PackX.h"
#include "package/Signature.h"
#include "platform/Platform.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
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

std::vector<std::string> OwnNames() {
  return AgentOwnNames(OwnPackage().AgentFileName(), ExePath(false), GetOriginalFileName(), GetInfoFileName(),
                       LogFilePath());
}

// A fresh fetch folder: what a crashed run left in it is the agent's own and
// goes. Empty when the name is taken by something that is no folder, or the
// folder cannot be made.
std::string MakeFetchFolder() {
  const std::string folder = FetchFolderFor(ExePath(false));
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      ::SetLastError(ERROR_ALREADY_EXISTS);
      return std::string();
    }
    DeleteTree(folder, true);
  }
  if (!::CreateDirectoryA(folder.c_str(), nullptr)) return std::string();
  return folder;
}

// The package's update keys; false, with the reason, when they cannot be
// read (then no offer is trusted: the publisher meant it to be checked).
bool OwnUpdateKeys(std::vector<UpdateKey>& keys, std::string& error) {
  if (OwnPackage().UpdateKeys(keys, error)) return true;
  error = "the package's update keys cannot be read: " + error;
  return false;
}

// Empty when the fetched offer may replace the stored one; else why not. An
// accepted signed offer moves the newest accepted signing time on.
std::string TrustFetchedOffer(const std::string& offer) {
  std::vector<UpdateKey> keys;
  std::string error;
  if (!OwnUpdateKeys(keys, error)) return error;
  if (keys.empty()) return std::string();
  const std::int64_t newest = GetOfferSignedLast();
  const OfferTrust trust = CheckOfferTrust(offer, keys, newest, UtcNowSeconds(), VerifySignature);
  if (!trust.accepted) return trust.reason;
  if (trust.signedAt > newest) SetOfferSignedLast(trust.signedAt);
  LogLine("Offer signed at " + UtcTimeText(trust.signedAt) + " by key " + trust.keyId + " accepted");
  return std::string();
}

}  // namespace

void SetFetchTestModeProbe(FetchTestModeProbe probe) { testModeProbe = probe; }

bool SamePageToken(const std::string& path) {
  return SamePageTokenText(ReadFileText(path), OwnPackage().UpdateTokenRaw());
}

FetchResult DownloadFileAU(const std::string& base, const std::string& givenName, FetchKind kind,
                           std::int64_t announced) {
  FetchResult result;
  std::string location;
  const bool testMode = (testModeProbe ? testModeProbe : AgentTestMode)(location);
  if (!testMode) location = base;

  std::string name, reason;
  if (!FetchFileName(givenName, name, reason)) {
    result.error = "file name \"" + givenName + "\" refused: " + reason;
  } else if (kind != FetchKind::info && IsAgentOwnName(name, OwnNames())) {
    // An offer is never written over the agent or its files, even for a
    // moment: a junk body would cost the product its updates.
    result.error = "file name \"" + givenName + "\" refused: the agent's own file";
  }
  if (!result.error.empty()) {
    DebugLine(PidText() + " DownloadFileAU: " + result.error);
    LogLine("ERROR: " + result.error);
    return result;
  }

  std::string source = FolderSource(location, name);
  DebugLine(PidText() + " DownloadFileAU: " + source);
  LogLine("TestMode=" + BoolText(testMode));
  LogLine("Download START: " + source);

  const bool confirmDownload = GetAUOption(auoConfirmDownload);
  const bool userProbe = UserCheck() == UserCheckState::running;
  const bool showWindow = ShowsMainWindow(kind, confirmDownload, userProbe);
  if (showWindow) ShowMain(SW_SHOW);
  SetStatusText(StatusLine(), GetAUText(FetchStatusKey(kind)), GetMsgBoxFontName(),
                static_cast<int>(GetMsgBoxFontSize()), MsgBoxCharset());

  const std::int64_t limit = FetchLimit(kind, announced);
  // The .info file is the agent's own name; a package or page goes to the
  // fetch folder and is checked there.
  std::string target;
  std::string folder;
  if (kind == FetchKind::info) {
    target = ExeDir(true) + name;
  } else {
    folder = MakeFetchFolder();
    if (folder.empty())
      result.error = ReadFailedText(name, "no fetch folder " + FetchFolderFor(ExePath(false)) + ": " + LastErrorText());
    else
      target = folder + "\\" + name;
  }
  std::string content;
  std::string detail;
  if (!result.error.empty()) {
  } else if (plat::Exists(source)) {
    const std::int64_t size = FileSizeByName(source);
    if (limit >= 0 && size > limit) {
      result.error = ReadFailedText(name, source + ": " + TooLargeDetail(size, limit));
    } else if (kind == FetchKind::info) {
      content = ReadFileText(source);
    } else if (size <= 0) {
      // Checking the token of whatever lay there before would pass off an
      // old package as the new one.
      result.error = ReadFailedText(name, "nothing read from " + source);
    } else if (!::CopyFileA(source.c_str(), target.c_str(), TRUE)) {
      result.error = ReadFailedText(name, "cannot copy to " + target + ": " + LastErrorText());
    } else if (FileSizeByName(target) > limit) {
      // It grew while it was copied.
      result.error = ReadFailedText(name, source + ": " + TooLargeDetail(FileSizeByName(target), limit));
    } else if (showWindow) {
      AnimateFolderCopy();
    }
  } else if (!testMode && IsInternetConnected(&detail)) {
    WaitYielding(0, kWebFetchPauseMs);
    source = WebSource(location, name);
    // A stop for now, ordered before the fetch began, ends it at once.
    SetDownloadAbort(QuitCountdown() == 0);
    TProgBar& progress = FetchProgress();
    DownloadResult got = HTTP_DownloadFile(userProbe ? MainWindowHandle() : nullptr, source,
                                           kind == FetchKind::info ? std::string() : target, &progress, -1, limit);
    result.error = got.error;
    // A body cut short is no .info file.
    if (result.error.empty()) content = std::move(got.body);
    WaitYielding(0, kWebFetchPauseMs);
  } else if (kind != FetchKind::info) {
    // Nothing arrived, so there is nothing whose token could be foreign.
    result.error = NothingFetchedText(source, testMode, detail);
  }

  if (kind != FetchKind::info && result.error.empty()) {
    // Nothing of a file that is not the one the offer describes is read,
    // run or shown; with keys the offer had to name its digest.
    std::vector<UpdateKey> keys;
    std::string keysError;
    const bool keyed = !OwnUpdateKeys(keys, keysError) || !keys.empty();
    result.error = kind == FetchKind::update
                       ? FileDigestProblem(target, "SHA256OfUpdateFile", GetSHA256OfUpdateFile(), keyed)
                       : FileDigestProblem(target, "SHA256OfInformFile", GetSHA256OfInformFile(), keyed);
  }

  if (showWindow) ShowMain(SW_HIDE);
  LogLine("Download END:   " + source);
  if (!result.error.empty()) LogLine("Download FAILED: " + result.error);

  if (kind == FetchKind::info) {
    const FetchOutcome outcome = FinishInfoFetch(result.error, content, source);
    if (outcome.success) {
      const std::string refusal = TrustFetchedOffer(content);
      if (!refusal.empty()) {
        // The stored offer stays as it was and the probe counts as failed;
        // the next probe fetches the offer again.
        result.error = "Offer refused: " + refusal;
        DebugLine(PidText() + " DownloadFileAU: " + result.error);
        LogLine(result.error);
        return result;
      }
    }
    // A failed fetch leaves an empty .info file, so that no stale offer is
    // read as the new one.
    WriteFileText(target, content);
    result.success = outcome.success;
    result.error = outcome.error;
    return result;
  }

  if (result.error.empty()) {
    result.success = kind == FetchKind::update ? OwnPackage().SameUpdateToken(target) : SamePageToken(target);
    if (!result.success) {
      std::string message = kBadSecretTokenText;
      NotFoundMessage(target, std::string(), source, message);
      LogLine("ERROR: " + message);
      DeleteTree(folder, true);
      ErrorBox(kOwnerHeading, message, GetMsgBoxError(), MsgBoxCharset(), GetMsgBoxBtnText());
    } else {
      result.path = target;
    }
  } else {
    if (!folder.empty()) DeleteTree(folder, true);
    const FetchFailureTexts texts{GetAUText("s3"), GetAUText("s4"), GetAUText("s5")};
    // A stop ordered from outside aborted it: nobody waits for the box, and
    // it would hold the copy open.
    const bool stopping = QuitCountdown() == 0;
    const std::string message =
        stopping ? std::string()
                 : DownloadFailureMessage(result.error, source, confirmDownload, DownloadAborted(), texts);
    if (!message.empty()) {
      LogLine("ATTENTION: " + message);
      WarningBox(kOwnerHeading, message, GetMsgBoxAttention(), 0, MsgBoxCharset(), GetMsgBoxBtnText());
    }
  }
  return result;
}

void DropFetched(const FetchResult& fetched) {
  if (!fetched.path.empty()) DeleteTree(FileDirPart(fetched.path), true);
}

}  // namespace havrek
