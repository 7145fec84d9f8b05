// The stub's own modal message box: a top-most window of class "HMsgBox" with
// a coloured band and icon, the text in a read-only rich-edit control with
// the light mark-up of Markup.h, and up to three buttons. It runs its own
// message loop, serving every window of the thread, so it can be shown from
// inside a timer handler. One box at a time per process.
//
// Owner code (first argument): kOwnerHeading (0) shows the title also as a
// bold heading; kOwnerPlain (1) plain; kOwnerNoClose (2) plain and without
// the Close command; larger values are the parent window's handle. Results
// are the system's message-box codes (MsgBoxResult), idNone when the box was
// closed without a button.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Markup.h"

namespace havrek {

inline constexpr char kMsgBoxClass[] = "HMsgBox";
inline constexpr char kMsgBoxMainIcon[] = "MainIcon";

// timeoutMs > 0 presses the first button when it runs out; flags are
// MsgBoxFlag; charset is the character set the text is written in (Hebrew
// and Arabic turn the box right-to-left); buttons is a button list like
// kDefaultButtonList. A call while another box is open returns idNone at once.
int MarkupBox(std::intptr_t owner, const std::string& text, const std::string& title, std::uint32_t timeoutMs,
              std::uint32_t flags, int charset, const std::string& buttons);

// The wrappers: an empty button list is kDefaultButtonList, an empty title
// the title of their kind.
void ErrorBox(std::intptr_t owner, const std::string& text, const std::string& title = std::string(),
              int charset = 0, const std::string& buttons = std::string());
void WarningBox(std::intptr_t owner, const std::string& text, const std::string& title = std::string(),
                std::uint32_t timeoutMs = 0, int charset = 0, const std::string& buttons = std::string());
// True for Yes.
bool ConfirmBox(std::intptr_t owner, const std::string& text, const std::string& title = std::string(),
                std::uint32_t timeoutMs = 0, int charset = 0, const std::string& buttons = std::string());
// True for OK.
bool OkCancelBox(std::intptr_t owner, const std::string& text, const std::string& title = std::string(),
                 int charset = 0, const std::string& buttons = std::string());

// Unattended runs (a deployment with nobody at the screen): every later box
// takes its default button's answer at once, without a window, and its title
// and text go to the debug channel instead.
void SetUnattended(bool on);
bool Unattended();

// The font of every later box (initially "Tahoma", 8 points, character set
// 1); points 0 keeps the size.
void SetMsgBoxFont(const std::string& faceName, int points, int charset);

}  // namespace havrek
