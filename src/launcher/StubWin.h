// Start-up and the choice of role: one executable, five roles, decided once
// from the package appended to it, its own file name and its command line.
#pragma once

#include <string>

#include "context/StubContext.h"

namespace havrek {

class TGFileInfo;

// Class name of the main window; one process per class does the role's work.
const std::string& StubWindowClass();

// The agent copy of this installation runs: its window exists, or it owns
// its instance mutex (launcher/AgentInstance.h) on its way to making one.
bool X_ExeIsRunning();
// Its window exists: commands posted now reach it.
bool AgentCopyWindowExists();
bool ThisIs_Plain_AutoUpdate_Exe();
bool ThisIs_X_AutoUpdate_Exe();
bool SpanRelaunchNeeded();
bool IsSpanCopy();

// The class name rule, over the values it depends on.
std::string StubWindowClassFor(bool autoUpdate, const std::string& exePath);

void DoRunStubWin();
// The whole run between the process entry and its exit: markers, package,
// role. Returns the process exit code.
int RunStub();

}  // namespace havrek
