// What the role bodies (setup, agent) share with the launcher that starts
// them: the process's own package, its exit code, the role answers and a
// narrow face of the main window. The launcher fills it at start-up and owns
// the real window, so a role body never reaches up into the launcher.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace havrek {

class TGFileInfo;

// The reader on the running executable, open from start-up to exit. Before
// start-up opens it (and after exit releases it) an empty reader stands in,
// so no caller ever meets a null package.
TGFileInfo& OwnPackage();
void SetOwnPackage(std::unique_ptr<TGFileInfo> package);

// The package marks this executable as an auto-update agent.
bool IsAutoUpdateProg();
void SetAutoUpdateProg(bool autoUpdate);

// The value the process ends with: 0 until the setup engine hands on its own
// or a failure sets its class.
int ExitCode();
void SetExitCode(int code);

// The main window as the role bodies see it. The launcher keeps it current
// while its window lives; every member may be empty (no window yet, a test).
struct MainWindowFace {
  HWND window = nullptr;
  HWND statusLine = nullptr;
  HWND activityBar = nullptr;
  // Reading order, font (points, face, character set) and text of a control.
  void (*setStatusText)(HWND control, const std::string& text, const std::string& face, int points,
                        int charset) = nullptr;
  // Kind 0 resets the bars (range 0..maximum, low 16 bits), kind 1 steps both.
  void (*progress)(int kind, int reserved, int maximum, int position, int step, const std::string& text) = nullptr;
  // Stops the one-second timer that drives the role's flow.
  void (*stopTimer)() = nullptr;
};
MainWindowFace& MainFace();

// Through the face; harmless while there is no window.
HWND MainWindowHandle();
HWND StatusLine();
HWND ActivityBar();
void SetStatusText(HWND control, const std::string& text, const std::string& face, int points, int charset);
void ProgressSink(int kind, int reserved, int maximum, int position, int step, const std::string& text);
void StopMainTimer();

}  // namespace havrek
