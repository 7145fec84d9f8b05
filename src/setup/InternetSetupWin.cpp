#include <windows.h>

#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "net/HProgBar.h"
#include "net/InetHTTP.h"
#include "net/InetText.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "setup/InternetSetup.h"
#include "setup/StubSetup.h"
#include "setup/StubSetupFolder.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

// Lives to the end of the process, like the bars it drives.
TProgBar& DownloadProgress() {
  static TProgBar progress(ProgressSink);
  return progress;
}

void WriteAgentCopy(const std::string& agent) {
  const std::string exe = ReadFileText(ExePath(false));
  if (exe.empty()) {
    DebugLine(PidText() + " ==== internet setup: cannot read " + ExePath(false));
    return;
  }
  const std::string path = SetTrailingBackslash(SetupFolder(), true) + agent;
  if (!WriteFileText(path, AgentCopyBytes(exe), ExeDosDate()))
    DebugLine(PidText() + " ==== internet setup: cannot write " + path);
}

}  // namespace

void RunInternetSetup(const std::string& agent) {
  const TGFileInfo& own = OwnPackage();
  const std::string name = own.InternetFileName();
  if (!agent.empty()) WriteAgentCopy(agent);
  const bool besideStub = !own.AlwaysDownload() && plat::Exists(ExeDir(true) + name);
  const std::string base = InternetSetupBase(own.InternetBaseUrl(), own.AlwaysDownload(), ExeDir(false), besideStub);
  InternetSetup(SetupFolder(), base, name);
}

void InternetSetup(const std::string& folder, const std::string& base, const std::string& name) {
  const TGFileInfo& own = OwnPackage();
  const std::string buttons = own.GetText("BtnText");
  const int charset = own.Charset();
  const std::string url = InternetPackageUrl(base, name);
  std::string err;
  bool deleteAfter = false;

  const std::string local = LocalPackagePath(base, name);
  const bool hidden = RunsHidden();
  std::string target;

  if (!name.empty() && plat::Exists(local)) {
    target = local;
  } else {
    SetStatusText(StatusLine(), own.GetText("s10"), own.FontName(), own.FontSize(), charset);
    if (own.ConfirmDownload() && !hidden) {
      const std::string text = DownloadConfirmText(own.GetText("s11"), own.InternetSizeText());
      if (!ConfirmBox(kOwnerHeading, text, own.GetText("Confirm"), 0, charset, buttons)) err = kDeclinedText;
    }
    // Asked even after a No: offline, that is what the user needs to hear.
    std::string detail;
    if (!IsInternetConnected(&detail)) err = NoConnectionText(own.GetText("s12"), detail);

    SetDownloadAbort(false);
    const std::string copyName = DownloadCopyName(name);
    target = TempDir(true) + copyName;
    HWND parent = hidden ? nullptr : MainWindowHandle();
    TProgBar& progress = DownloadProgress();
    if (err.empty() && copyName.empty()) err = NotFoundText(url);
    if (err.empty()) {
      err = HTTP_DownloadFile(parent, url, target, &progress).error;
      if (err.empty()) deleteAfter = true;
    }

    WaitYielding(0, 300);
    ProgressSink(0, 0, 10, 0, 1, std::string());
    WaitYielding(0, 700);
  }

  if (err.empty()) {
    const TGFileInfo fetched(target);
    if (!own.SameInternetToken(fetched)) {
      err = kBadTokenText;
      NotFoundMessage(target, std::string(), url, err);
    }
  }
  if (err.empty()) ExtractAndRun(folder, target, std::string(), GetCmdLineArgs(), !hidden);
  if (deleteAfter) ::DeleteFileA(target.c_str());
  if (!err.empty() && err != kDeclinedText) {
    DebugLine(PidText() + " ==== internet setup: " + err);
    ErrorBox(kOwnerHeading, err, own.GetText("Error"), charset, buttons);
  }
}

}  // namespace havrek
