// Auto-inform: the information page an author publishes instead of an
// update, fetched, checked against the build and shown in a window of its own.
#pragma once

namespace havrek {

// Fetches the page the .info file names and shows it; true if a page was
// shown or its link was opened.
bool PerformAutoInform();

}  // namespace havrek
