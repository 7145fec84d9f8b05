// Copies of the executable (the agent's X_ copy, the span copy) and the
// commands a plain agent forwards to its running copy.
#pragma once

namespace havrek {

void CreateAndRun_X_Exe();
void SpanRelaunch();
void HandleParamOK(bool wasRunning);

}  // namespace havrek
