#include "launcher/Copies.h"

#include <windows.h>

#include "diag/HDebug.h"
#include "setup/EngineCommand.h"
#include "setup/StubSetup.h"
#include "setup/StubSetupFolder.h"
#include "util/Utils.h"

namespace havrek {

// Making the agent copy and forwarding commands arrive with the agent; until
// then each entry only marks that it was reached.
void CreateAndRun_X_Exe() { DebugLine("CreateAndRun_X_Exe"); }
void HandleParamOK(bool wasRunning) { DebugLine("HandleParamOK"); }

void SpanRelaunch() {
  const std::string exe = ExePath();
  const std::string copy = SetTrailingBackslash(SetupFolder(), true) + "Y_" + FileNamePart(exe);
  // A copy that cannot be replaced (one still running) is started as it is.
  ::CopyFileA(exe.c_str(), copy.c_str(), FALSE);
  const std::string cmd = SpanCopyCommandLine(copy, GetCmdLineArgs(), exe);
  DebugLine(PidText() + " ==== SpanRelaunch >>" + cmd + "<<");
  RunProcess(cmd, SW_HIDE);
}

}  // namespace havrek
