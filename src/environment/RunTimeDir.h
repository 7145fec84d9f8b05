// Run-time folder slots 1 to 8 of the path macros. No slot carries a
// definition in this program, so every slot resolves to the empty text; the
// slots stay so that settings written with them keep expanding the same way.
#pragma once

#include <string>

namespace havrek {

inline constexpr int kRunTimeDirSlots = 8;

// The slot's folder, resolved on first use and kept; empty for a slot number
// outside 1..8.
std::string RunTimeDirSlot(int slot);

}  // namespace havrek
