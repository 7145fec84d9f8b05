// Fetching the agent's three files (the .info file, the update package and
// the information page) from a folder or a web server. The decisions over
// names, places and texts are portable; DownloadFileAU, which carries them
// out with the windows, the disk and the network, is Win32 only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace havrek {

enum class FetchKind {
  info = 1,    // the .info file, held in memory, then written beside the agent
  update = 2,  // the update package, carries the agent's build token
  inform = 3,  // the information page, carries it too
};

inline constexpr char kBadSecretTokenText[] = "Bad Secret Token!";

// A folder copy has no progress of its own; the bars move this many steps
// this far apart so that the user sees something happen.
inline constexpr int kFolderCopySteps = 10;
inline constexpr std::uint32_t kFolderCopyStepMs = 300;
// Pause before and after a web fetch, serving messages.
inline constexpr std::uint32_t kWebFetchPauseMs = 500;

// [AutoUpdate] key of the status text shown while the kind is fetched
// ("s31".."s33"); empty for an unknown kind.
std::string FetchStatusKey(FetchKind kind);

// The name a fetched file takes beside the agent: only the file-name part of
// given counts, so that a remote .info file cannot choose where the agent
// writes. False with the reason for an empty part, a device name ("CON",
// "LPT1.txt") or any other name Windows would not store as a plain file.
bool FetchFileName(const std::string& given, std::string& name, std::string& error);

// The agent's own names beside it, which no offer may name: the agent, its
// "X_" copy, the running executable, the .original and .info files, the log
// and the folder its fetches land in (file-name parts; empty ones skipped).
std::vector<std::string> AgentOwnNames(const std::string& agentFileName, const std::string& exePath,
                                       const std::string& originalPath, const std::string& infoPath,
                                       const std::string& logPath);
// name is one of own, compared as Windows compares names (case-blind,
// trailing dots and blanks dropped).
bool IsAgentOwnName(const std::string& name, const std::vector<std::string>& own);

// Where an update package or information page is fetched and checked: a
// folder of the agent's own beside it, named after the running executable.
// Nothing of the offer lands under any other name.
std::string FetchFolderFor(const std::string& exePath);

// Most bytes a fetch of the kind takes. The .info file and the page are small
// by nature; a package may exceed its announced size (SizeOfUpdateFile) only
// by less than the size test's tolerance. -1: no bound.
inline constexpr std::int64_t kInfoFileCap = 64 * 1024;
inline constexpr std::int64_t kInformPageCap = 1024 * 1024;
std::int64_t FetchLimit(FetchKind kind, std::int64_t announced);

// base + "\" + name: tried first, as a folder (drive path or share).
std::string FolderSource(const std::string& base, const std::string& name);
// base + "/" + name: the web address tried when the folder holds no file.
std::string WebSource(const std::string& base, const std::string& name);

// The main window is shown for the download of an update the user is asked
// about (option 1), unless the user asked for the probe and is watching.
bool ShowsMainWindow(FetchKind kind, bool confirmDownload, bool userProbe);

// A drive path ("C:...") or a network share ("\\server\...").
bool IsLocalSource(const std::string& source);

// What an UPDATE or INFORM fetch that got nothing reports in place of the
// download's own error text: test mode with no file at its location, or no
// connection (with the system's reason when it gave one).
std::string NothingFetchedText(const std::string& source, bool testMode, const std::string& detail);

// The agent's texts s3, s4 and s5 (File Download Aborted!, File not Found!,
// Unable to Download File!).
struct FetchFailureTexts {
  std::string aborted;
  std::string notFound;
  std::string unableToDownload;
};
// The warning after a failed UPDATE or INFORM fetch, empty when none is
// shown: only with an error, option 1 and a source longer than two
// characters. s3 after an abort; otherwise the source, "<P><P>" and s4 for a
// folder source or s5 for a web one.
std::string DownloadFailureMessage(const std::string& error, const std::string& source, bool confirmDownload,
                                   bool aborted, const FetchFailureTexts& texts);

// The end of an INFO fetch: an error page from a web server becomes the 404
// text of source, success needs no error and some content, and an error text
// that begins with "3" is dropped (success stays false).
struct FetchOutcome {
  bool success = false;
  std::string error;
};
FetchOutcome FinishInfoFetch(const std::string& error, const std::string& content, const std::string& source);

// The encoded build token of an information page: the text between its first
// two "|", after restoring a page stored scrambled ("Scrambled=01...").
// Empty when either "|" is missing.
std::string PageToken(const std::string& pageText);
// Whether the page carries the same token as the agent's own package
// (encoded update token); a page without a token that decodes never does.
bool SamePageTokenText(const std::string& pageText, const std::string& ownEncodedToken);

#ifdef _WIN32
struct FetchResult {
  bool success = false;
  std::string error;  // empty when there is none
  // An update package or page that passed its token check: it lies in the
  // agent's fetch folder, the only place a fetch writes to besides the .info
  // file. The caller uses it there and drops it with DropFetched.
  std::string path;
};

// Fetches name (its file-name part) of the given kind from base, or from the
// test-mode location while test mode holds: the .info file into the agent's
// folder, a package or page into the fetch folder. Checks the build token of
// a package or page, and tells the user about failures as the .info file's
// option 1 asks. announced: the size the .info file gives the package (its
// bound, FetchLimit); ignored for the other kinds.
FetchResult DownloadFileAU(const std::string& base, const std::string& name, FetchKind kind,
                           std::int64_t announced = -1);
// Removes a fetched file with its fetch folder.
void DropFetched(const FetchResult& fetched);

// The information page at path carries the own package's build token.
bool SamePageToken(const std::string& path);

// Where DownloadFileAU learns whether test mode holds and where its location
// is. The agent state by default; tests put their own in place (null goes
// back to the agent state).
using FetchTestModeProbe = bool (*)(std::string& location);
void SetFetchTestModeProbe(FetchTestModeProbe probe);
#endif

}  // namespace havrek
