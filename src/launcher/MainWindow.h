// The stub's main window: a small hidden-at-first window with a status line
// and two progress bars. Its one-second timer drives the setup flow and the
// agent, it receives the agent's private messages and it parents the dialogs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "context/AgentMessages.h"
#include "context/StubContext.h"

namespace havrek {

inline constexpr UINT kMainTimerId = 1;
inline constexpr UINT kMainTimerMs = 1000;
inline constexpr int kMainWindowWidth = 492;
inline constexpr int kMainWindowHeight = 110;

// Where the flows of later roles plug into the window. Each one left empty
// does nothing; they are set before WinMain runs.
struct MainWindowHooks {
  // Every timer tick outside the agent role; empty: SetupTimerTick.
  void (*setupTick)() = nullptr;
  // Every timer tick of the agent copy (its scheduler).
  void (*agentTick)() = nullptr;
  // /SleepX=n with n >= 0: the agent waits n ticks before its first probe.
  void (*sleepTicks)(std::int64_t n) = nullptr;
  // wm_ShutDown (wParam).
  void (*shutDown)(WPARAM countdown) = nullptr;
  // wm_LocalMsg: a listener registers (window, message).
  void (*localMsg)(WPARAM listener, LPARAM message) = nullptr;
  // wm_AgentMsg: its result goes back to a sender that waits.
  LRESULT (*agentMsg)(WPARAM code, LPARAM value) = nullptr;
  // After the loop, once the download library is released: the listener is told.
  void (*loopEnded)() = nullptr;
};
MainWindowHooks& MainHooks();

// Registers the class, creates the window (hidden), runs the message loop
// and returns when it has ended. The role entry, not the process entry
// (that is ::WinMain in Main.cpp).
void WinMain();

// The class registration and the window with its children, not shown.
// RTL layout for the Hebrew and Arabic character sets (177, 178). Null when
// the window could not be made.
HWND CreateMainWindow(const std::string& caption, int charset);

// The window's handle, status line, activity bar, status text and progress
// reach the role bodies through the face of context/StubContext.h, which the
// window keeps current. Null before the window exists and after it is gone.
HWND MainProgressBar();

// A close request: the first one only asks a running download to stop
// (raises its abort flag, net/InetHTTP.h) and answers false; once the flag is
// up, true.
bool CloseMainWindow();
// Teardown of the window's run: abort flag up, setup folder removed, quit
// posted and the loop told to end.
void DestroyMainWindow();

}  // namespace havrek
