// What is wrong with an offer (the .info file), named by its cause. The
// update decision ends a broken offer with one of its seven reasons, which
// name the symptom ("Download file size error" for a misspelt file name);
// beside it the log names the cause: a key the agent does not know in one of
// the offer's sections, a key the offer needs that is missing or empty, a
// value outside its kind. Findings are advice only: the offer is read as it
// always was.
#pragma once

#include <string>
#include <vector>

namespace havrek {

// One finding per line, "[Section] Key ..." in the file's order, then the
// missing keys in the table's order; empty for a sound offer. The text is
// read as the system's INI reader reads it: sections and keys without case,
// blanks around names and values and one pair of quotes around a value
// dropped, ";" lines skipped, the first of two equal keys counts. With
// nameClosest (for the publisher's tools) an unknown key names the known key
// it is likely a misspelling of, and a section near an offer section (a
// misspelt "[NewSetup]") is named too.
std::vector<std::string> OfferFindings(const std::string& infoText, bool nameClosest = false);

// Writes the findings of the fetched offer at path to the log and the debug
// channel, "Offer: " before each; an offer whose text was already diagnosed
// in this run is not diagnosed again.
void DiagnoseOffer(const std::string& infoPath);

}  // namespace havrek
