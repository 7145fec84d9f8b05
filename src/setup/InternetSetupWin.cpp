#include <windows.h>

#include <vector>

#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "net/HProgBar.h"
#include "net/InetHTTP.h"
#include "net/InetText.h"
#include "package/PackX.h"
#include "package/UnPack.h"
#include "platform/Platform.h"
#include "setup/InternetSetup.h"
#include "setup/SetupExit.h"
#include "setup/StubSetup.h"
#include "setup/StubSetupFolder.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"

namespace havrek {
namespace {

// Lives to the end of the process, like the bars it drives.
TProgBar& DownloadProgress() {
  static TProgBar progress(ProgressSink);
  return progress;
}

void WriteAgentCopy(const std::string& agent) {
  // The record's value names a file, not a place: like every entry it lands
  // inside the setup folder or nowhere.
  std::string path, error;
  if (!EntryTargetPath(RemoveTrailingBackslash(SetupFolder()), FileNamePart(agent), path, error)) {
    DebugLine(PidText() + " ==== internet setup: agent name refused: " + agent + ": " + error);
    return;
  }
  const std::string exe = ReadFileText(ExePath(false));
  if (exe.empty()) {
    DebugLine(PidText() + " ==== internet setup: cannot read " + ExePath(false));
    return;
  }
  if (!WriteFileText(path, AgentCopyBytes(exe), ExeDosDate()))
    DebugLine(PidText() + " ==== internet setup: cannot write " + path);
}

// A folder of this run's own beside the setup folder, for the download: the
// package's name may be that of any file of the user's in the temporary
// folder, and the setup folder itself fills with the package's entries.
// Empty when none can be made.
// It is held while the run lasts, so that a run that finds it never takes
// it for a leftover.
std::string MakeDownloadFolder(const std::string& setupFolder, KernelHandle& hold) {
  RemoveLeftDownloadFolders(setupFolder);
  const std::string base = RemoveTrailingBackslash(setupFolder) + ".dl" + std::to_string(::GetCurrentProcessId());
  for (int i = 0; i < 100; ++i) {
    const std::string folder = i == 0 ? base : base + "_" + std::to_string(i);
    if (::CreateDirectoryA(folder.c_str(), nullptr)) {
      hold = ClaimFolder(folder);
      return folder;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return std::string();
}

}  // namespace

bool DownloadOwnerGone(std::uint32_t pid, const std::string& ownerName) {
  const KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return ::GetLastError() != ERROR_ACCESS_DENIED;
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE) return true;
  char image[MAX_PATH * 2] = {};
  DWORD size = sizeof image;
  if (!::QueryFullProcessImageNameA(process.get(), 0, image, &size)) return false;
  return !SameText(FileNamePart(std::string(image, size)), ownerName);
}

void RemoveLeftDownloadFolders(const std::string& setupFolder) {
  const std::string folder = RemoveTrailingBackslash(setupFolder);
  const std::string parent = FileDirPart(folder);
  const std::string own = FileNamePart(folder);
  if (own.empty()) return;
  std::vector<std::string> left;
  WIN32_FIND_DATAA fd;
  {
    const FindHandle find(::FindFirstFileA((folder + ".dl*").c_str(), &fd));
    if (!find) return;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      const std::uint32_t pid = DownloadFolderOwner(fd.cFileName, own);
      if (pid == 0 || pid == ::GetCurrentProcessId()) continue;
      if (DownloadOwnerGone(pid, FileNamePart(ExePath(false)))) left.push_back(parent + fd.cFileName);
    } while (::FindNextFileA(find.get(), &fd));
  }
  for (const std::string& path : left) {
    // A run that holds it is alive, whatever its pid says.
    KernelHandle hold = ClaimFolder(path);
    if (!hold) continue;
    DebugLine(PidText() + " ==== internet setup: removing " + path + ", left by a run that has ended");
    DeleteTree(path, true);
    hold.reset();
    ::RemoveDirectoryA(path.c_str());
  }
}

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
  std::string downloadFolder;
  KernelHandle downloadHold;

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
    HWND parent = hidden ? nullptr : MainWindowHandle();
    TProgBar& progress = DownloadProgress();
    if (err.empty() && copyName.empty()) err = NotFoundText(url);
    if (err.empty()) {
      downloadFolder = MakeDownloadFolder(folder, downloadHold);
      if (downloadFolder.empty()) err = ReadFailedText(copyName, "no folder for the download: " + LastErrorText());
    }
    if (err.empty()) {
      target = SetTrailingBackslash(downloadFolder, true) + copyName;
      std::int64_t expected = -1;
      if (!TryTextToInt64(own.InternetSizeText(), expected)) expected = -1;
      err = HTTP_DownloadFile(parent, url, target, &progress, expected).error;
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
  // The token only tells builds apart; the digest holds the package to the
  // very bytes this setup was built for (a server or a folder beside the
  // setup may hold anything under that name).
  if (err.empty())
    if (const std::string problem = PackageDigestProblem(own.InternetSha256Text(), target); !problem.empty())
      err = ReadFailedText(FileNamePart(target), problem);
  if (err.empty()) ExtractAndRun(folder, target, std::string(), GetCmdLineArgs(), !hidden);
  if (!downloadFolder.empty()) {
    DeleteTree(downloadFolder, true);
    downloadHold.reset();
    ::RemoveDirectoryA(downloadFolder.c_str());
  }
  if (!err.empty() && err != kDeclinedText) {
    // Deployment tools read 0 as installed; the user's own No is no failure.
    SetExitCode(kExitDownloadFailed);
    DebugLine(PidText() + " ==== internet setup: " + err);
    ErrorBox(kOwnerHeading, err, own.GetText("Error"), charset, buttons);
  }
}

}  // namespace havrek
