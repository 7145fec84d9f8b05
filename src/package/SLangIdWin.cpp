#include <windows.h>

#include "package/SLangId.h"

namespace havrek {

void InstallSystemLanguage() {
  const LCID locale = ::GetThreadLocale();
  SetSystemPrimaryLanguage(locale == 0 ? LANG_ENGLISH : PRIMARYLANGID(LANGIDFROMLCID(locale)));
}

}  // namespace havrek
