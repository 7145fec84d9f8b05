// The agent copy's process-wide state and its test mode.
#pragma once

namespace havrek {

void CheckTestMode(bool atStart);

}  // namespace havrek
