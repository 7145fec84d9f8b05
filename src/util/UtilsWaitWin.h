// Keeping the one user-interface thread alive while it works, and small
// window and system helpers shared by the program's windows.
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

int ScreenDpiY();
int PointsToPixels(int points);

struct ScreenPoint {
  int x = 0;
  int y = 0;
};
// Top-left corner that centres a w x h window in the desktop's work area;
// negative when the window is larger.
ScreenPoint CenterInWorkArea(int width, int height);

// Returns once no top-level window of the class (and the title, unless it is
// empty) exists, serving messages meanwhile. With timeoutMs >= 0 it gives up
// after that long and reports false.
bool WaitWindowGone(const std::string& windowClass, const std::string& title = std::string(),
                    std::int64_t timeoutMs = -1);

bool ShellOpen(const std::string& target, const std::string& parameters, int showCommand);

// Loads a library of the system folder (a bare file name; names with a folder
// are refused) and looks the function up. The library stays loaded for the
// life of the process.
FARPROC LoadDllProc(const std::string& library, const std::string& proc, HMODULE* module);
FARPROC LoadDllProc(const std::string& library, const std::string& proc);

void RegisterAutoPlayMessage(bool on);
UINT AutoPlayMessage();

// True when the environment variable DVX is "952"; read once.
bool DeveloperMode();

}  // namespace havrek
