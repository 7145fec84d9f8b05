// Private window messages between the launcher's main window and the agent:
// the plain agent posts (or sends) them to the agent copy, and the copy tells
// its listener which one carries commands. One definition for both sides.
#pragma once

namespace havrek {

inline constexpr unsigned int wm_ShutDown = 1123;
inline constexpr unsigned int wm_LocalMsg = 1124;
inline constexpr unsigned int wm_AgentMsg = 1125;

}  // namespace havrek
