#include "agent/OfferKeys.h"

#include <algorithm>

#include "agent/SignedOffer.h"
#include "util/Utils.h"

namespace havrek {
namespace {

using K = OfferKind;
using N = OfferNeed;

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

// Levenshtein distance without letter case.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  const std::string x = UpperCase(a), y = UpperCase(b);
  std::vector<std::size_t> row(y.size() + 1);
  for (std::size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= y.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[y.size()];
}

// A misspelling, not another word: a couple of letters, a few more in long names.
bool NearEnough(std::size_t distance, const std::string& name) { return distance <= 2 + name.size() / 8; }

// Blanks and control characters around, then one pair of quotes.
std::string IniValue(const std::string& raw) {
  std::string v = Trim(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

const std::vector<OfferKey>& OfferKeys() {
  static const std::vector<OfferKey> keys = {
      {"NewSetup", "DownloadURL_UPDATE", K::text, N::both},
      {"NewSetup", "NameOfUpdateFile", K::text, N::update},
      {"NewSetup", "SizeOfUpdateFile", K::integer, N::update},
      // The fetched package must match it; an agent with keys needs it.
      {"NewSetup", "SHA256OfUpdateFile", K::sha256, N::never},
      {"NewSetup", "RequestConfirmationBeforeDownload", K::yesNo, N::never},
      {"NewSetup", "RequestConfirmationBeforeDownloadForce", K::yesNo, N::never},
      {"NewSetup", "RequestConfirmationBeforeInstall", K::yesNo, N::never},
      {"NewSetup", "RequestConfirmationBeforeInstallForce", K::yesNo, N::never},
      {"NewSetup", "BackgroundUpdate", K::yesNo, N::never},
      // Without a method the agent waits for a running program that nobody
      // asked to end.
      {"NewSetup", "ShutDownMethod", K::shutDownMethod, N::withRunningProcess},
      {"NewSetup", "RestartProcess", K::yesNo, N::never},
      {"NewSetup", "InformFinish", K::yesNo, N::never},
      {"NewSetup", "RunningProcess", K::text, N::never},
      {"NewSetup", "ProgramName", K::text, N::never},
      {"NewSetup", "VersionNew", K::integer, N::both},
      {"NewSetup", "Stamp", K::integer, N::never},
      {"NewSetup", "ValidVersions", K::versionList, N::never},
      // An old signed offer replayed after this time is refused.
      {"NewSetup", "OfferExpires", K::dateTime, N::never},
      {"NewSetup", "RemoveStartUpShortcut", K::yesNo, N::never},
      {"NewSetup", "RemoveCheckForNewUpdateShortcut", K::yesNo, N::never},
      {"General", "AutoInform", K::integer, N::never},
      {"AutoInform", "DownloadURL_INFORM", K::text, N::never},
      {"AutoInform", "NameOfInformFile", K::text, N::inform},
      {"AutoInform", "SizeOfInformFile", K::integer, N::inform},
      {"AutoInform", "SHA256OfInformFile", K::sha256, N::never},
      {"AutoInform", "AutoInformW", K::integer, N::never},
      {"AutoInform", "AutoInformH", K::integer, N::never},
  };
  return keys;
}

const OfferKey* FindOfferKey(const std::string& section, const std::string& key) {
  for (const OfferKey& k : OfferKeys())
    if (SameText(section, k.section) && SameText(key, k.key)) return &k;
  return nullptr;
}

bool IsOfferSection(const std::string& section) {
  for (const OfferKey& k : OfferKeys())
    if (SameText(section, k.section)) return true;
  return false;
}

const OfferKey* ClosestOfferKey(const std::string& section, const std::string& key) {
  const OfferKey* best = nullptr;
  std::size_t bestDistance = 0;
  // A near key of the same section wins over a nearer one elsewhere.
  for (int pass = 0; pass < 2 && !best; ++pass)
    for (const OfferKey& k : OfferKeys()) {
      if ((pass == 0) != SameText(section, k.section)) continue;
      const std::size_t d = EditDistance(key, k.key);
      if (NearEnough(d, k.key) && (!best || d < bestDistance)) best = &k, bestDistance = d;
    }
  return best;
}

const char* ClosestOfferSection(const std::string& section) {
  const char* best = nullptr;
  std::size_t bestDistance = 0;
  for (const OfferKey& k : OfferKeys()) {
    const std::size_t d = EditDistance(section, k.section);
    if (NearEnough(d, k.section) && (!best || d < bestDistance)) best = k.section, bestDistance = d;
  }
  return best;
}

std::string OfferKindProblem(OfferKind kind, const std::string& value) {
  if (value.empty()) return std::string();
  std::int64_t n;
  switch (kind) {
    case K::text:
      return std::string();
    case K::integer:
      return TryTextToInt64(value, n) ? std::string() : "is no number";
    case K::yesNo:
      return value == "1" || value == "0" ? std::string() : "is neither 1 nor 0, read as no";
    case K::shutDownMethod: {
      std::string list;
      for (const char* m : kShutDownMethods) {
        if (value == m) return std::string();
        list += std::string(list.empty() ? "" : ", ") + "\"" + m + "\"";
      }
      return "is none of " + list + " (letter case counts)";
    }
    case K::versionList:
      return IsVersionList(value) ? std::string() : "is no comma-separated list of versions";
    case K::dateTime:
      return ParseUtcTime(value, n) ? std::string() : "is no UTC time YYYY-MM-DDTHH:MM:SSZ";
    case K::sha256: {
      std::string digest;
      return ParseSha256Hex(value, digest) ? std::string() : "is no SHA-256 digest of 64 hexadecimal digits";
    }
  }
  return std::string();
}

std::vector<OfferEntry> ReadOfferEntries(const std::string& text) {
  std::vector<OfferEntry> entries;
  std::string section;
  std::size_t at = 0;
  int number = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    ++number;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    entries.push_back({section, Trim(line.substr(0, eq)), IniValue(line.substr(eq + 1)), number});
  }
  return entries;
}

}  // namespace havrek
