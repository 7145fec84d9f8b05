#include "agent/StubAUFetch.h"

#include "net/InetText.h"
#include "package/EntryName.h"
#include "package/PackX.h"
#include "util/Utils.h"
#include "util/UtilsSystem.h"

namespace havrek {

std::string FetchStatusKey(int kind) {
  switch (kind) {
    case fkInfo: return "s31";
    case fkUpdate: return "s32";
    case fkInform: return "s33";
    default: return std::string();
  }
}

bool FetchFileName(const std::string& given, std::string& name, std::string& error) {
  name = FileNamePart(given);
  if (CheckPlainFileName(name, error)) return true;
  name.clear();
  return false;
}

std::string FolderSource(const std::string& base, const std::string& name) { return base + "\\" + name; }

std::string WebSource(const std::string& base, const std::string& name) { return base + "/" + name; }

bool ShowsMainWindow(int kind, bool confirmDownload, bool userProbe) {
  return kind == fkUpdate && confirmDownload && !userProbe;
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
