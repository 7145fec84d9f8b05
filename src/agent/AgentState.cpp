#include "agent/AgentState.h"

#include "diag/HDebug.h"

namespace havrek {

// Test mode arrives with the agent; until then the check only marks that it ran.
void CheckTestMode(bool atStart) { DebugLine("CheckTestMode"); }

}  // namespace havrek
