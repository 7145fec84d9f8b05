#include "agent/AgentState.h"

#include "diag/HDebug.h"

namespace havrek {
namespace {

int userCheck = 0;

}  // namespace

// Test mode arrives with the agent; until then the check only marks that it ran.
bool CheckTestMode(bool /*force*/) {
  DebugLine("CheckTestMode");
  return false;
}
bool TestMode() { return false; }
std::string TestModeLocation() { return std::string(); }

int UserCheck() { return userCheck; }
void SetUserCheck(int value) { userCheck = value; }

}  // namespace havrek
