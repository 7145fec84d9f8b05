// The keys an offer (the .info file) may hold, as the agent reads them: their
// section, the kind of value each takes and when an offer cannot do without
// it. The agent's diagnosis and havrek-pack's offer checks share the table, so
// that what the tool lets through is what the agent understands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace havrek {

enum class OfferKind {
  text,
  integer,         // a decimal number as the INI reader takes it
  yesNo,           // exactly "1" or "0"; anything else reads as no
  shutDownMethod,  // one of kShutDownMethods, letter case counting
  versionList,     // comma-separated numbers
  dateTime,        // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  sha256,          // 64 hexadecimal digits
};

// When an offer cannot do without the key.
enum class OfferNeed { never, update, inform, both, withRunningProcess };

struct OfferKey {
  const char* section;
  const char* key;
  OfferKind kind;
  OfferNeed need;
};

// Every key the agent reads from an offer, in the order an offer lists them.
const std::vector<OfferKey>& OfferKeys();

inline constexpr const char* kShutDownMethods[] = {"Issue a Message Box", "Using WM_CLOSE", "Using WM_QUIT",
                                                   "Using Terminate Process", "Don't Shut Down"};

// The table's entry for section and key (both without case); null if none.
const OfferKey* FindOfferKey(const std::string& section, const std::string& key);
// True when section (without case) is one of the offer's own sections; the
// others belong to whoever else reads the file.
bool IsOfferSection(const std::string& section);
// The known key nearest to key by edit distance (letter case ignored),
// looked for in section first and then in every section; null when nothing
// is near enough to be a misspelling.
const OfferKey* ClosestOfferKey(const std::string& section, const std::string& key);
// The offer section nearest to section, as ClosestOfferKey; null if none.
const char* ClosestOfferSection(const std::string& section);

// Why value is outside kind ("is no number", ...), or empty when it is not.
// An empty value reads as the default of every kind.
std::string OfferKindProblem(OfferKind kind, const std::string& value);

// One "key=value" line of an offer as the system's INI reader takes it.
struct OfferEntry {
  std::string section;  // as written, without brackets
  std::string key;
  std::string value;
  int line = 0;  // 1-based
};

// The entries of an INI text in the file's order: sections and keys without
// case, blanks around names and values and one pair of quotes around a value
// dropped, ";" lines and lines without "=" skipped.
std::vector<OfferEntry> ReadOfferEntries(const std::string& text);

}  // namespace havrek
