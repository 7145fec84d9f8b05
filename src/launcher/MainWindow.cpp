#include "launcher/MainWindow.h"

#include "diag/HDebug.h"

namespace havrek {

// The window, its timer and the setup flow arrive with the setup role; until
// then the role's entry only marks that it was reached.
void WinMain() { DebugLine("WinMain"); }

}  // namespace havrek
