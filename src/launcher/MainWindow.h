// The stub's main window: its timer drives the setup flow and the agent.
#pragma once

namespace havrek {

// Creates the main window, runs its message loop and returns when it has closed.
// (Not the process entry point: that is ::WinMain in Main.cpp.)
void WinMain();

}  // namespace havrek
