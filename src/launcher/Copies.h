// Copies of the executable (the agent's X_ copy, the span copy) and the
// commands a plain agent forwards to its running copy.
#pragma once

namespace havrek {

void CreateAndRun_X_Exe();
void SpanRelaunch();
// True when any command was posted to the copy.
bool HandleParamOK(bool wasRunning);

}  // namespace havrek
