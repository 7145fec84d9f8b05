// Copies of the executable (the agent's X_ copy, the span copy) and the
// commands a plain agent forwards to its running copy.
#pragma once

namespace havrek {

// True when it started a copy.
bool CreateAndRun_X_Exe();
void SpanRelaunch();
// True when any command was posted to the copy.
bool HandleParamOK(bool wasRunning);

}  // namespace havrek
