// Waiting while keeping the one user-interface thread alive: the clock, and
// serving the thread's messages while time passes or a window goes away.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace havrek {

// Milliseconds from the performance counter, arbitrary origin.
std::int64_t TickMs();

// Serves every pending message of the thread, then sleeps (0 gives up the
// rest of the time slice). Window procedures run inside; exceptions they
// throw are reported and stop here.
void YieldX(std::uint32_t ms);
// Serves messages in slices (0: chosen from the total) until total ms have
// passed; serves the queue at least once.
void WaitYielding(std::uint32_t slice, std::int64_t total);

// Returns once no top-level window of the class (and the title, unless it is
// empty) exists, serving messages meanwhile. With timeoutMs >= 0 it gives up
// after that long and reports false.
bool WaitWindowGone(const std::string& windowClass, const std::string& title = std::string(),
                    std::int64_t timeoutMs = -1);

}  // namespace havrek
