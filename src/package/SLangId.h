// Language names by Windows language identifier, and the system language
// that a package's language entries are chosen for.
#pragma once

#include <string>

namespace havrek {

// "|NAME<blanks>= code|..." in table order: 51 rows, names upper case.
const std::string& LanguageIdTable();

// The upper-case name of the first row whose code text contains the
// identifier as two or more decimal digits; empty when none does.
std::string LanguageNameForId(int primaryId);

// Primary language identifier of the thread locale at program start. English
// (9) until the shell supplies the system's value.
int SystemPrimaryLanguage();
void SetSystemPrimaryLanguage(int primaryId);

#ifdef _WIN32
// Takes the primary language of the calling thread's locale. Call once at
// start-up, before the first language text is looked up.
void InstallSystemLanguage();
#endif

}  // namespace havrek
