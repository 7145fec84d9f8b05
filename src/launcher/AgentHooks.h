// Plugs the agent copy's answers into the main window. The launcher knows the
// window and the agent; the agent does not know the window's hooks.
#pragma once

namespace havrek {

// Before WinMain in the agent copy.
void InstallAgentHooks();

}  // namespace havrek
