#include "package/SLangId.h"

#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {
namespace {

// Codes are decimal Windows language identifiers: two digits for primary
// identifiers, four for full ones. A primary identifier is found by
// substring, so the first row containing its digits wins.
const char kTable[] =
    "|"
    "AFRIKAANS    = 54|"
    "ALBANIAN     = 28|"
    "ARABIC       = 01|"
    "BASQUE       = 45|"
    "BELARUSIAN   = 35|"
    "BULGARIAN    = 02|"
    "CATALAN      = 03|"
    "CHINESE      = 04|"
    "CROATIAN     = 26|"
    "CZECH        = 05|"
    "DANISH       = 06|"
    "DUTCH        = 19|"
    "ENGLISH      = 09|"
    "ESTONIAN     = 37|"
    "FAEROESE     = 56|"
    "FARSI        = 41|"
    "FINNISH      = 11|"
    "FRENCH       = 12|"
    "GERMAN       = 07|"
    "GREEK        = 08|"
    "HEBREW       = 13|"
    "HUNGARIAN    = 14|"
    "ICELANDIC    = 15|"
    "INDONESIAN   = 33|"
    "ITALIAN      = 16|"
    "JAPANESE     = 17|"
    "KOREAN       = 18|"
    "LATVIAN      = 38|"
    "LITHUANIAN   = 39|"
    "NORWEGIAN    = 20|"
    "POLISH       = 21|"
    "PORTUGUESE   = 22|"
    "ROMANIAN     = 24|"
    "RUSSIAN      = 25|"
    "SERBIAN      = 26|"
    "SLOVAK       = 27|"
    "SLOVENIAN    = 36|"
    "SPANISH      = 10|"
    "SWEDISH      = 29|"
    "THAI         = 30|"
    "TURKISH      = 31|"
    "UKRAINIAN    = 34|"
    "VIETNAMESE   = 42|"
    "CHINESE(SIMPLIFIED)  = 2052|"
    "CHINESE(TRADITIONAL) = 1028|"
    "DUTCH(FLEMISH)       = 2067|"
    "DUTCH(STANDARD)      = 1043|"
    "PORTUGUESE(PORTUGAL) = 2070|"
    "PORTUGUESE(BRAZIL)   = 1046|"
    "SERBIAN(LATIN)       = 2074|"
    "SERBIAN(CYRILIC)     = 3098|";

int systemPrimaryLanguage = 9;

}  // namespace

const std::string& LanguageIdTable() {
  static const std::string table(kTable);
  return table;
}

std::string LanguageNameForId(int primaryId) {
  const std::string digits = ZeroPad(primaryId, 2);
  const std::string& table = LanguageIdTable();
  const int rows = SUB::FieldCount(table);
  for (int i = 0; i < rows; ++i) {
    const std::string row = SUB::GetField(table, i);
    const std::size_t equals = row.find('=', 1);
    if (row.find(digits) != std::string::npos && equals != std::string::npos) return Trim(row.substr(0, equals));
  }
  return std::string();
}

int SystemPrimaryLanguage() { return systemPrimaryLanguage; }
void SetSystemPrimaryLanguage(int primaryId) { systemPrimaryLanguage = primaryId; }

}  // namespace havrek
