// Start-up and the choice of role: one executable, five roles, decided once
// from the package appended to it, its own file name and its command line.
#pragma once

#include <string>

namespace havrek {

class TGFileInfo;

// The reader on the running executable, open from start-up to exit.
TGFileInfo& OwnPackage();
// The package marks this executable as an auto-update agent.
bool IsAutoUpdateProg();
// Class name of the main window; one process per class does the role's work.
const std::string& StubWindowClass();
// The value the process ends with: 0 until the setup engine hands on its own.
int ExitCode();
void SetExitCode(int code);

bool X_ExeIsRunning();
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
