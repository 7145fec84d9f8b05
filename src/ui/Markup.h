// The portable half of the message box: the light mark-up of its texts, the
// buttons of each button set and their keyboard letters, and the arithmetic
// that turns measured text into the box's size and the places of its parts.
// The Win32 half (HMsgBox.h) measures, creates and paints.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace havrek {

// Captions in the fixed order OK, Cancel, Yes, No, Abort, Retry, Ignore; the
// character after "&" is the button's keyboard letter.
inline constexpr char kDefaultButtonList[] = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";
// Titles used when a wrapper is given none, by title kind.
inline constexpr char kTitleKinds[] = "|Error|Attention|Confirm|";
enum TitleKind : int { tkError = 0, tkAttention = 1, tkConfirm = 2 };

// Style flags, laid out like the system's message-box style.
enum MsgBoxFlag : std::uint32_t {
  mbOk = 0x0,
  mbOkCancel = 0x1,
  mbAbortRetryIgnore = 0x2,
  mbYesNoCancel = 0x3,
  mbYesNo = 0x4,
  mbRetryCancel = 0x5,
  mbButtonMask = 0xF,
  mbIconStop = 0x10,
  mbIconQuestion = 0x20,
  mbIconExclamation = 0x30,
  mbIconInformation = 0x40,
  mbIconMask = 0xF0,
  mbDefaultButtonMask = 0xF00,
  mbRight = 0x80000,
  mbRtlReading = 0x100000,
  mbNoClose = 0x10000000,
};

// The system's message-box codes; 0 when the box closed without a button.
enum MsgBoxResult : int {
  idNone = 0,
  idOk = 1,
  idCancel = 2,
  idAbort = 3,
  idRetry = 4,
  idIgnore = 5,
  idYes = 6,
  idNo = 7,
};

// Owner codes below this are not window handles.
inline constexpr std::intptr_t kOwnerHeading = 0;
inline constexpr std::intptr_t kOwnerPlain = 1;
inline constexpr std::intptr_t kOwnerNoClose = 2;

// Hebrew and Arabic texts turn the box right-aligned and right-to-left.
inline constexpr int kHebrewCharset = 177;
inline constexpr int kArabicCharset = 178;

// ---- Mark-up ----

// Line-break and tab mark-up ("\\n", "\\t", "<P>", "<T>") to CR LF and TAB.
std::string ConvertMarkup(const std::string& text);

// Characters [start, end) of the plain text shown in bold.
struct BoldRange {
  std::int64_t start = 0;
  std::int64_t end = 0;
  bool operator==(const BoldRange&) const = default;
};

struct MarkupText {
  std::string plain;
  std::vector<BoldRange> bold;  // clipped to plain, never empty ranges
};

// The whole mark-up: ConvertMarkup, the leading "<<b>" of a heading, and the
// "<B>".."</B>" ranges (any case); tags without a partner vanish.
MarkupText ParseMarkup(const std::string& text);

// ---- Preparing a call ----

// Flags after the character set and the owner code have had their say.
std::uint32_t EffectiveFlags(std::uint32_t flags, int charset, std::intptr_t owner);
// The text of an owner-code-0 box: the title as a bold heading, an empty
// line, the text. Titles out of kTitleKinds are upper-cased.
std::string HeadingText(const std::string& title, const std::string& text);
// An empty title becomes the title of kind.
std::string TitleOrKind(const std::string& title, TitleKind kind);

// ---- Buttons ----

struct BoxButton {
  std::string caption;
  int code = idNone;
};

// The one to three buttons of the set in flags, left to right, captions from
// the list (missing fields give empty captions). Unknown sets show OK.
std::vector<BoxButton> ButtonsFor(std::uint32_t flags, const std::string& buttonList);
// The index of the default button: flags bits 8 to 11 modulo count.
int DefaultButtonIndex(std::uint32_t flags, int count);

// A typed character: the first button whose caption's second character is
// the character as typed or upper-cased; -1 for none.
int ButtonForChar(const std::vector<BoxButton>& buttons, char typed);
// A key A to Z: the last button whose caption has that letter after its "&"
// (without "&", as its first character), ignoring case; -1 for none.
int ButtonForKey(const std::vector<BoxButton>& buttons, int virtualKey);
// Focus moves with wrap-around; from no focused button (-1) forward goes to
// the first, backward to the last.
int NextButton(int focused, int count);
int PreviousButton(int focused, int count);

// ---- Measuring ----

inline constexpr int kMaxLineWidth = 600;
inline constexpr int kBoldWidthTries = 21;
inline constexpr int kBoldWidthStep = 10;

int LineHeight(int fontHeight, int externalLeading, const std::string& faceName);

struct BoxSize {
  int width = 0;
  int height = 0;
  bool operator==(const BoxSize&) const = default;
};

// Estimated content size of the plain text, measuring each line with
// lineWidth (pixels). Width includes its 10-pixel allowance and is at most
// kMaxLineWidth; lines wider than that count as several.
BoxSize EstimateTextSize(const std::string& plain, int lineHeight,
                         const std::function<int(const std::string& line)>& lineWidth);
// The rich-edit control's size before any bold correction.
BoxSize ControlSizeFor(const BoxSize& estimate);

// Bold runs are wider than the plain measure: tries the control at the
// estimated width plus 0, 10, .. 200 pixels until its content asks for no more
// height than estimated. sizeAt(width) sizes the control and returns the size
// its content then requests. Returns the control width to keep.
int FitBoldWidth(const BoxSize& estimate, const std::function<BoxSize(int width)>& sizeAt);

// ---- Layout ----

inline constexpr int kBandWidth = 54;
inline constexpr int kMinBoxWidth = 360;
inline constexpr int kButtonWidth = 70;
inline constexpr int kButtonHeight = 23;
inline constexpr int kIconX = 11;
inline constexpr int kIconY = 20;
inline constexpr int kBandRed = 0;
inline constexpr int kBandGreen = 78;
inline constexpr int kBandBlue = 152;

struct FrameMetrics {
  int sizingFrameX = 0;
  int sizingFrameY = 0;
  int caption = 0;
};

// Window size of the box for a control of the given size.
BoxSize BoxWindowSize(const BoxSize& control, const FrameMetrics& frame);

struct BoxRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const BoxRect&) const = default;
};

// Where the control goes in a client area of clientWidth x clientHeight.
BoxRect ControlRect(const BoxSize& control, int clientWidth, int clientHeight);
// Button index of count, left to right, touching, the last 10 pixels from
// the right edge.
BoxRect ButtonRect(int index, int count, int clientWidth, int clientHeight);

// Painting: the separator lines and the button strip below them.
inline int DarkLineY(int clientHeight) { return clientHeight - 37; }
inline int WhiteLineY(int clientHeight) { return clientHeight - 36; }
inline int ButtonStripTop(int clientHeight) { return clientHeight - 35; }

}  // namespace havrek
