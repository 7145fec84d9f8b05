#include "agent/OfferCheck.h"

#include <set>

#include "diag/HDebug.h"
#include "files/Files.h"
#include "util/Utils.h"

namespace havrek {
namespace {

enum class Kind { text, integer, yesNo, shutDownMethod, versionList };

// When an offer cannot do without the key.
enum class Need { never, update, inform, both, withRunningProcess };

struct OfferKey {
  const char* section;
  const char* key;
  Kind kind;
  Need need;
};

// Every key the agent reads from an offer.
const OfferKey kOfferKeys[] = {
    {"NewSetup", "DownloadURL_UPDATE", Kind::text, Need::both},
    {"NewSetup", "NameOfUpdateFile", Kind::text, Need::update},
    {"NewSetup", "SizeOfUpdateFile", Kind::integer, Need::update},
    {"NewSetup", "RequestConfirmationBeforeDownload", Kind::yesNo, Need::never},
    {"NewSetup", "RequestConfirmationBeforeDownloadForce", Kind::yesNo, Need::never},
    {"NewSetup", "RequestConfirmationBeforeInstall", Kind::yesNo, Need::never},
    {"NewSetup", "RequestConfirmationBeforeInstallForce", Kind::yesNo, Need::never},
    {"NewSetup", "BackgroundUpdate", Kind::yesNo, Need::never},
    // Without a method the agent waits for a running program that nobody
    // asked to end.
    {"NewSetup", "ShutDownMethod", Kind::shutDownMethod, Need::withRunningProcess},
    {"NewSetup", "RestartProcess", Kind::yesNo, Need::never},
    {"NewSetup", "InformFinish", Kind::yesNo, Need::never},
    {"NewSetup", "RunningProcess", Kind::text, Need::never},
    {"NewSetup", "ProgramName", Kind::text, Need::never},
    {"NewSetup", "VersionNew", Kind::integer, Need::both},
    {"NewSetup", "Stamp", Kind::integer, Need::never},
    {"NewSetup", "ValidVersions", Kind::versionList, Need::never},
    {"NewSetup", "RemoveStartUpShortcut", Kind::yesNo, Need::never},
    {"NewSetup", "RemoveCheckForNewUpdateShortcut", Kind::yesNo, Need::never},
    {"General", "AutoInform", Kind::integer, Need::never},
    {"AutoInform", "DownloadURL_INFORM", Kind::text, Need::never},
    {"AutoInform", "NameOfInformFile", Kind::text, Need::inform},
    {"AutoInform", "SizeOfInformFile", Kind::integer, Need::inform},
    {"AutoInform", "AutoInformW", Kind::integer, Need::never},
    {"AutoInform", "AutoInformH", Kind::integer, Need::never},
};

const char* const kShutDownMethods[] = {"Issue a Message Box", "Using WM_CLOSE", "Using WM_QUIT",
                                        "Using Terminate Process", "Don't Shut Down"};

struct Entry {
  std::string section;  // as written
  std::string key;
  std::string value;
};

// Blanks and control characters around, then one pair of quotes.
std::string IniValue(const std::string& raw) {
  std::string v = Trim(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

std::vector<Entry> ParseIni(const std::string& text) {
  std::vector<Entry> entries;
  std::string section;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    entries.push_back({section, Trim(line.substr(0, eq)), IniValue(line.substr(eq + 1))});
  }
  return entries;
}

bool IsOfferSection(const std::string& section) {
  for (const OfferKey& k : kOfferKeys)
    if (SameText(section, k.section)) return true;
  return false;
}

const OfferKey* KnownKey(const std::string& section, const std::string& key) {
  for (const OfferKey& k : kOfferKeys)
    if (SameText(section, k.section) && SameText(key, k.key)) return &k;
  return nullptr;
}

bool IsVersionList(const std::string& value) {
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = value.find(',', at);
    std::int64_t n;
    if (!TryTextToInt64(value.substr(at, comma == std::string::npos ? std::string::npos : comma - at), n))
      return false;
    if (comma == std::string::npos) return true;
    at = comma + 1;
  }
}

// The reason a value is outside its kind, or empty when it is not. An empty
// value reads as the default of every kind.
std::string KindProblem(Kind kind, const std::string& value) {
  if (value.empty()) return std::string();
  std::int64_t n;
  switch (kind) {
    case Kind::text:
      return std::string();
    case Kind::integer:
      return TryTextToInt64(value, n) ? std::string() : "is no number";
    case Kind::yesNo:
      return value == "1" || value == "0" ? std::string() : "is neither 1 nor 0, read as no";
    case Kind::shutDownMethod: {
      std::string list;
      for (const char* m : kShutDownMethods) {
        if (value == m) return std::string();
        list += std::string(list.empty() ? "" : ", ") + "\"" + m + "\"";
      }
      return "is none of " + list + " (letter case counts)";
    }
    case Kind::versionList:
      return IsVersionList(value) ? std::string() : "is no comma-separated list of versions";
  }
  return std::string();
}

}  // namespace

std::vector<std::string> OfferFindings(const std::string& infoText) {
  std::vector<std::string> findings;
  const std::vector<Entry> entries = ParseIni(infoText);

  auto valueOf = [&](const OfferKey& k) -> const Entry* {
    for (const Entry& e : entries)
      if (SameText(e.section, k.section) && SameText(e.key, k.key)) return &e;
    return nullptr;
  };

  std::set<std::string> seen;
  for (const Entry& e : entries) {
    if (!IsOfferSection(e.section)) continue;
    const std::string where = "[" + e.section + "] " + e.key;
    const OfferKey* known = KnownKey(e.section, e.key);
    if (!known) {
      findings.push_back(where + " is no key of the offer, ignored");
      continue;
    }
    // The reader takes the first of two equal keys.
    if (!seen.insert(UpperCase(std::string(known->section) + "|" + known->key)).second) continue;
    const std::string problem = KindProblem(known->kind, e.value);
    if (!problem.empty()) findings.push_back(where + "=\"" + e.value + "\" " + problem);
  }

  const OfferKey* autoInform = KnownKey("General", "AutoInform");
  const Entry* inform = valueOf(*autoInform);
  std::int64_t informValue = 0;
  const bool informOffer = inform && TryTextToInt64(inform->value, informValue) && informValue == 1;
  const Entry* running = valueOf(*KnownKey("NewSetup", "RunningProcess"));
  const bool hasRunning = running && !running->value.empty();
  for (const OfferKey& k : kOfferKeys) {
    bool needed = false;
    switch (k.need) {
      case Need::never:
        break;
      case Need::update:
        needed = !informOffer;
        break;
      case Need::inform:
        needed = informOffer;
        break;
      case Need::both:
        needed = true;
        break;
      case Need::withRunningProcess:
        needed = !informOffer && hasRunning;
        break;
    }
    if (!needed) continue;
    const Entry* e = valueOf(k);
    if (!e || e->value.empty())
      findings.push_back("[" + std::string(k.section) + "] " + k.key + " is missing or empty" +
                         (informOffer ? " (an information page)" : " (an update)"));
  }
  return findings;
}

void DiagnoseOffer(const std::string& infoPath) {
  static std::set<std::string> diagnosed;
  const std::string text = ReadFileText(infoPath);
  if (!diagnosed.insert(NameDigest(infoPath) + NameDigest(text) + std::to_string(text.size())).second) return;
  for (const std::string& finding : OfferFindings(text)) {
    DebugLine(PidText() + " Offer: " + finding);
    LogLine("Offer: " + finding);
  }
}

}  // namespace havrek
