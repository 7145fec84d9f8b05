// The agent copy's process-wide state and its test mode.
#pragma once

#include <string>

namespace havrek {

// Reads the test-mode values when forced or after a pause of more than
// 30 seconds since the last call; the test-mode flag.
bool CheckTestMode(bool force);
// As of the last CheckTestMode.
bool TestMode();
// The base location that replaces every other one while test mode holds.
std::string TestModeLocation();

// 2: a probe on the user's behalf was asked for; 1 while that probe runs.
int UserCheck();
void SetUserCheck(int value);

}  // namespace havrek
