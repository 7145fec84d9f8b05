#include "agent/StubAUFetch.h"

#include "net/InetText.h"
#include "package/EntryName.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"
#include "util/Utils.h"
#include "util/UtilsSystem.h"

namespace havrek {

std::string FetchStatusKey(FetchKind kind) {
  switch (kind) {
    case FetchKind::info: return "s31";
    case FetchKind::update: return "s32";
    case FetchKind::inform: return "s33";
    default: return std::string();
  }
}

bool FetchFileName(const std::string& given, std::string& name, std::string& error) {
  name = FileNamePart(given);
  if (CheckPlainFileName(name, error)) return true;
  name.clear();
  return false;
}

std::vector<std::string> AgentOwnNames(const std::string& agentFileName, const std::string& exePath,
                                       const std::string& originalPath, const std::string& infoPath,
                                       const std::string& logPath) {
  std::vector<std::string> names;
  const std::string agent = FileNamePart(agentFileName);
  for (const std::string& name : {agent, agent.empty() ? std::string() : "X_" + agent, FileNamePart(exePath),
                                  FileNamePart(originalPath), FileNamePart(infoPath), FileNamePart(logPath),
                                  FileNamePart(FetchFolderFor(exePath))})
    if (!name.empty()) names.push_back(name);
  return names;
}

namespace {
// "Agent.exe. " opens "Agent.exe" on Windows.
std::string WindowsName(const std::string& name) {
  const std::size_t end = name.find_last_not_of(". ");
  return end == std::string::npos ? std::string() : name.substr(0, end + 1);
}
}  // namespace

bool IsAgentOwnName(const std::string& name, const std::vector<std::string>& own) {
  const std::string plain = WindowsName(name);
  for (const std::string& o : own)
    if (SameText(plain, WindowsName(o))) return true;
  return false;
}

std::string FetchFolderFor(const std::string& exePath) { return exePath + ".fetch"; }

std::int64_t FetchLimit(FetchKind kind, std::int64_t announced) {
  switch (kind) {
    case FetchKind::info: return kInfoFileCap;
    case FetchKind::inform: return kInformPageCap;
    case FetchKind::update:
      // The size test passes a package less than 100 bytes longer than
      // announced; the download takes no byte more.
      if (announced < 0) announced = 0;
      return announced > INT64_MAX - 99 ? INT64_MAX : announced + 99;
    default: return -1;
  }
}

std::string FolderSource(const std::string& base, const std::string& name) { return base + "\\" + name; }

std::string WebSource(const std::string& base, const std::string& name) { return base + "/" + name; }

bool ShowsMainWindow(FetchKind kind, bool confirmDownload, bool userProbe) {
  return kind == FetchKind::update && confirmDownload && !userProbe;
}

bool IsLocalSource(const std::string& source) {
  return (source.size() > 1 && source[1] == ':') || source.starts_with("\\\\");
}

std::string NothingFetchedText(const std::string& source, bool testMode, const std::string& detail) {
  if (testMode) return NotFoundText(source);
  return "No Internet connection" + (detail.empty() ? std::string() : " (" + detail + ")");
}

std::string DownloadFailureMessage(const std::string& error, const std::string& source, bool confirmDownload,
                                   bool aborted, const FetchFailureTexts& texts) {
  if (error.empty() || source.size() <= 2 || !confirmDownload) return std::string();
  if (aborted) return texts.aborted;
  return source + "<P><P>" + (IsLocalSource(source) ? texts.notFound : texts.unableToDownload);
}

FetchOutcome FinishInfoFetch(const std::string& error, const std::string& content, const std::string& source) {
  FetchOutcome out;
  out.error = error;
  if (out.error.empty() && !content.empty()) NotFoundMessage(std::string(), content, source, out.error);
  out.success = out.error.empty() && !content.empty();
  if (out.error.starts_with("3")) out.error.clear();
  return out;
}

std::string PageToken(const std::string& pageText) {
  const std::string text = pageText.starts_with(kScrambleMarker) ? ScrambleText(pageText, false, false) : pageText;
  const std::size_t first = text.find('|');
  if (first == std::string::npos) return std::string();
  const std::size_t second = text.find('|', first + 1);
  if (second == std::string::npos) return std::string();
  return text.substr(first + 1, second - first - 1);
}

bool SamePageTokenText(const std::string& pageText, const std::string& ownEncodedToken) {
  return SameToken(PageToken(pageText), ownEncodedToken);
}

}  // namespace havrek
