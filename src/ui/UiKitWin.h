// What the stub's own modal windows (the message box and the information
// page) share: the rich-edit library, their fonts and the loop that serves
// the whole thread while one of them is up.
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

}  // namespace havrek
