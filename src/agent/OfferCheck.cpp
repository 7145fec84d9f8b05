#include "agent/OfferCheck.h"

#include <set>

#include "agent/OfferKeys.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "util/Utils.h"

namespace havrek {

std::vector<std::string> OfferFindings(const std::string& infoText, bool nameClosest) {
  std::vector<std::string> findings;
  const std::vector<OfferEntry> entries = ReadOfferEntries(infoText);

  auto valueOf = [&](const OfferKey& k) -> const OfferEntry* {
    for (const OfferEntry& e : entries)
      if (SameText(e.section, k.section) && SameText(e.key, k.key)) return &e;
    return nullptr;
  };

  std::set<std::string> seen, otherSections;
  for (const OfferEntry& e : entries) {
    if (!IsOfferSection(e.section)) {
      const char* near = nameClosest ? ClosestOfferSection(e.section) : nullptr;
      if (near && otherSections.insert(UpperCase(e.section)).second)
        findings.push_back("[" + e.section + "] is no section of the offer, ignored (did you mean [" + near + "]?)");
      continue;
    }
    const std::string where = "[" + e.section + "] " + e.key;
    const OfferKey* known = FindOfferKey(e.section, e.key);
    if (!known) {
      const OfferKey* near = nameClosest ? ClosestOfferKey(e.section, e.key) : nullptr;
      findings.push_back(where + " is no key of the offer, ignored" +
                         (near ? std::string(" (did you mean [") + near->section + "] " + near->key + "?)" : ""));
      continue;
    }
    // The reader takes the first of two equal keys.
    if (!seen.insert(UpperCase(std::string(known->section) + "|" + known->key)).second) continue;
    const std::string problem = OfferKindProblem(known->kind, e.value);
    if (!problem.empty()) findings.push_back(where + "=\"" + e.value + "\" " + problem);
  }

  const OfferKey* autoInform = FindOfferKey("General", "AutoInform");
  const OfferEntry* inform = valueOf(*autoInform);
  std::int64_t informValue = 0;
  const bool informOffer = inform && TryTextToInt64(inform->value, informValue) && informValue == 1;
  const OfferEntry* running = valueOf(*FindOfferKey("NewSetup", "RunningProcess"));
  const bool hasRunning = running && !running->value.empty();
  for (const OfferKey& k : OfferKeys()) {
    bool needed = false;
    switch (k.need) {
      case OfferNeed::never:
        break;
      case OfferNeed::update:
        needed = !informOffer;
        break;
      case OfferNeed::inform:
        needed = informOffer;
        break;
      case OfferNeed::both:
        needed = true;
        break;
      case OfferNeed::withRunningProcess:
        needed = !informOffer && hasRunning;
        break;
    }
    if (!needed) continue;
    const OfferEntry* e = valueOf(k);
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
