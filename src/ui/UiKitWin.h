// What the stub's own windows share: the screen's DPI and the centring of a
// window, the rich-edit library, fonts, the loop that serves the whole thread
// while a modal one (the message box, the information page) is up, and
// opening a link the user chose.
#pragma once

#include <windows.h>

#include <string>

#include "util/WinHandle.h"

namespace havrek {

inline constexpr char kRichEditLibrary[] = "RICHED32.DLL";
inline constexpr char kRichEditClass[] = "RICHEDIT";

// Loads the rich-edit library on the first call and keeps it: the control
// class it registers must outlive every window that uses it.
void KeepRichEditLoaded();

// A Swiss-family font of normal weight; height as LOGFONT takes it
// (negative: character height, positive: cell height).
GdiObject CreateSwissFont(const std::string& face, int height, int charset);

// Gets and dispatches every message of the thread until done is set (by the
// window's destroy). offer, when given, sees each message first and keeps it
// from being dispatched by returning true. A quit request destroys the
// window and is handed on to the loop outside.
void RunModalLoop(const bool& done, HWND window, bool (*offer)(const MSG&), const char* routine);

int ScreenDpiY();
int PointsToPixels(int points);

struct ScreenPoint {
  int x = 0;
  int y = 0;
};
// Top-left corner that centres a w x h window in the desktop's work area;
// negative when the window is larger.
ScreenPoint CenterInWorkArea(int width, int height);

// The caption, up to 1023 characters; empty for no window.
std::string WindowText(HWND window);

// Opens the target (a link, a document) the way the shell does for a double
// click. False when the shell could not.
bool ShellOpen(const std::string& target, const std::string& parameters, int showCommand);

}  // namespace havrek
