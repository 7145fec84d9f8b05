#include "agent/StubInformDlg.h"

#include "diag/HDebug.h"

namespace havrek {

// The page window arrives with the update cycle; until then nothing is shown.
bool PerformAutoInform() {
  LogLine("PerformAutoInform() - END FALSE");
  return false;
}

}  // namespace havrek
