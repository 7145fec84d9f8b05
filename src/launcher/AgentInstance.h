// One agent copy per installation. Window classes alone leave a gap between
// a start's look for the copy's window and the window's creation, in which a
// second start goes ahead too; two named mutexes per installation close it:
//  - the instance mutex, owned by the running copy from the start of its
//    role until its window is gone;
//  - the start mutex, owned by a plain agent from its look for the copy
//    until the copy it started has its window.
// Both are named after the copy's full path, so that agents of different
// products that share a file name never meet.
#pragma once

#include <string>

#include "util/WinHandle.h"

namespace havrek {

// The agent copy of this installation: "X_" + the agent's name, beside it.
std::string InstallationCopyPath();

// "Local\havrek-agent-<kind>-<digest of the copy's long path>".
std::string AgentMutexName(const std::string& kind, const std::string& copyPath);

// The mutex of this installation, owned for the caller; empty when another
// process owns it still after waitMs. A holder that ended without letting go
// leaves it to the next one.
OwnedMutex TakeAgentMutex(const std::string& kind, DWORD waitMs);

// Another process owns this installation's instance mutex: its copy runs.
bool AgentCopyInstanceHeld();

inline constexpr char kAgentInstanceMutex[] = "instance";
inline constexpr char kAgentStartMutex[] = "start";

}  // namespace havrek
