#include "ui/HMsgBox.h"

#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "diag/HDebug.h"
#include "ui/UiKitWin.h"
#include "util/ScopeGuard.h"
#include "util/UtilsWaitWin.h"
#include "util/WinHandle.h"

namespace havrek {
namespace {

constexpr UINT_PTR kTimeoutTimer = 1;
constexpr int kEditId = 99;
constexpr int kFirstButtonId = 100;
constexpr int kMaxButtons = 3;

struct FontSettings {
  std::string face = "Tahoma";
  int points = 8;
  int charset = 1;
};

struct BoxState {
  HWND box = nullptr;
  HWND edit = nullptr;
  GdiObject font;
  std::vector<BoxButton> buttons;
  HWND buttonWindows[kMaxButtons] = {};
  HICON icon = nullptr;
  int result = idNone;
  UINT timeoutMs = 0;
  bool noClose = false;
  bool done = false;
  HWND previousActive = nullptr;
  int requestedWidth = 0;
  int requestedHeight = 0;
};

FontSettings g_font;
BoxState g_box;
bool g_open = false;
bool g_unattended = false;

UINT AutoPlayQuery() {
  static const UINT message = ::RegisterWindowMessageA("QueryCancelAutoPlay");
  return message;
}

int ButtonIndexOf(HWND window) {
  for (int i = 0; i < static_cast<int>(g_box.buttons.size()); ++i)
    if (window != nullptr && g_box.buttonWindows[i] == window) return i;
  return -1;
}

void Choose(int index) {
  if (index < 0 || index >= static_cast<int>(g_box.buttons.size())) return;
  g_box.result = g_box.buttons[index].code;
  ::PostMessageA(g_box.box, WM_CLOSE, 0, 0);
}

void FocusButton(int index) {
  if (index >= 0 && index < static_cast<int>(g_box.buttons.size())) ::SetFocus(g_box.buttonWindows[index]);
}

// Every message of the thread passes here before it is dispatched; true when
// it chose a button and must not be dispatched.
bool OfferKey(const MSG& msg) {
  const int count = static_cast<int>(g_box.buttons.size());
  if (msg.message == WM_CHAR) {
    const int index = ButtonForChar(g_box.buttons, static_cast<char>(msg.wParam));
    if (index < 0) return false;
    Choose(index);
    return true;
  }
  if (msg.message != WM_KEYDOWN) return false;
  const int focused = ButtonIndexOf(::GetFocus());
  switch (msg.wParam) {
    case VK_LEFT:
    case VK_UP:
      FocusButton(PreviousButton(focused, count));
      return false;
    case VK_TAB:
    case VK_RIGHT:
    case VK_DOWN:
      FocusButton(NextButton(focused, count));
      return false;
    case VK_RETURN:
      if (focused < 0) return false;
      Choose(focused);
      return true;
    default: {
      const int index = ButtonForKey(g_box.buttons, static_cast<int>(msg.wParam));
      if (index < 0) return false;
      Choose(index);
      return true;
    }
  }
}

void Paint(HWND window) {
  PAINTSTRUCT ps;
  const HDC dc = ::BeginPaint(window, &ps);
  if (!dc) return;
  RECT client;
  ::GetClientRect(window, &client);
  const int cw = client.right;
  const int ch = client.bottom;
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  const RECT dark = {0, DarkLineY(ch), cw, DarkLineY(ch) + 1};
  ::FillRect(dc, &dark, ::GetSysColorBrush(COLOR_3DDKSHADOW));
  const RECT white = {0, WhiteLineY(ch), cw, WhiteLineY(ch) + 1};
  ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  const RECT strip = {0, ButtonStripTop(ch), cw, ch};
  ::FillRect(dc, &strip, ::GetSysColorBrush(COLOR_BTNFACE));
  const GdiObject band(::CreateSolidBrush(RGB(kBandRed, kBandGreen, kBandBlue)));
  const RECT bandRect = {0, 0, kBandWidth, DarkLineY(ch)};
  if (band) ::FillRect(dc, &bandRect, static_cast<HBRUSH>(band.get()));
  if (g_box.icon) ::DrawIcon(dc, kIconX, kIconY, g_box.icon);
  ::EndPaint(window, &ps);
}

void CloseBox(HWND window) {
  if (g_box.previousActive && ::IsWindow(g_box.previousActive)) {
    ::EnableWindow(g_box.previousActive, TRUE);
    ::SetActiveWindow(g_box.previousActive);
    ::SetFocus(g_box.previousActive);
  }
  if (g_box.timeoutMs > 0) ::KillTimer(window, kTimeoutTimer);
}

LRESULT HandleBoxMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      if (g_box.timeoutMs > 0) ::SetTimer(window, kTimeoutTimer, g_box.timeoutMs, nullptr);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) Choose(ButtonIndexOf(reinterpret_cast<HWND>(lParam)));
      return 0;
    case WM_TIMER:
      if (wParam == kTimeoutTimer) Choose(0);
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header && header->code == EN_REQUESTRESIZE && header->hwndFrom == g_box.edit) {
        const RECT& rc = reinterpret_cast<const REQRESIZE*>(lParam)->rc;
        g_box.requestedWidth = rc.right - rc.left;
        g_box.requestedHeight = rc.bottom - rc.top;
      }
      return 0;
    }
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_SYSCOMMAND:
      // A greyed Close item does not stop Alt+F4 or a posted SC_CLOSE on
      // every system; the box itself refuses them.
      if ((wParam & 0xFFF0) == SC_CLOSE && g_box.noClose) return 0;
      break;
    case WM_CLOSE:
      CloseBox(window);
      break;
    case WM_DESTROY:
      g_box.done = true;
      return 0;
    default:
      if (msg == AutoPlayQuery()) return 1;
      break;
  }
  return ::DefWindowProcA(window, msg, wParam, lParam);
}

LRESULT CALLBACK BoxProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  ReportingExceptions("HMsgBox", [&] { result = HandleBoxMessage(window, msg, wParam, lParam); });
  return result;
}

GdiObject CreateBoxFont() { return CreateSwissFont(g_font.face, -PointsToPixels(g_font.points), g_font.charset); }

HICON IconFor(std::uint32_t flags) {
  switch (flags & mbIconMask) {
    case mbIconStop:
      return ::LoadIconA(nullptr, MAKEINTRESOURCEA(32513));
    case mbIconQuestion:
      return ::LoadIconA(nullptr, MAKEINTRESOURCEA(32514));
    case mbIconExclamation:
      return ::LoadIconA(nullptr, MAKEINTRESOURCEA(32515));
    case mbIconInformation:
      return ::LoadIconA(nullptr, MAKEINTRESOURCEA(32516));
    default:
      return ::LoadIconA(::GetModuleHandleA(nullptr), kMsgBoxMainIcon);
  }
}

// Width of one line as the control lays it out: tabs stop every half inch.
int LineWidth(HDC dc, const std::string& line) {
  const int tab = std::max(1, PointsToPixels(36));
  int x = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t cut = line.find('\t', start);
    const std::size_t end = cut == std::string::npos ? line.size() : cut;
    if (end > start) {
      SIZE extent = {};
      if (::GetTextExtentPoint32A(dc, line.data() + start, static_cast<int>(end - start), &extent)) x += extent.cx;
    }
    if (cut == std::string::npos) return x;
    x = (x / tab + 1) * tab;
    start = cut + 1;
  }
}

void SizeEdit(int width, int height) {
  ::SetWindowPos(g_box.edit, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Sets the text with its bold runs and sizes the control to what it needs.
void SetTextAndMeasure(const std::string& text, std::uint32_t flags) {
  const MarkupText markup = ParseMarkup(text);
  // The control's default limit would cut long texts.
  ::SendMessageA(g_box.edit, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(markup.plain.size() + 1));
  ::SetWindowTextA(g_box.edit, markup.plain.c_str());
  for (const BoldRange& r : markup.bold) {
    CHARRANGE range = {static_cast<LONG>(r.start), static_cast<LONG>(r.end)};
    ::SendMessageA(g_box.edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT;
    format.dwEffects = CFE_BOLD;
    ::SendMessageA(g_box.edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  }
  if (flags & (mbRight | mbRtlReading)) {
    CHARRANGE all = {0, -1};
    ::SendMessageA(g_box.edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
    PARAFORMAT para = {};
    para.cbSize = sizeof para;
    if (flags & mbRight) {
      para.dwMask |= PFM_ALIGNMENT;
      para.wAlignment = PFA_RIGHT;
    }
    if (flags & mbRtlReading) {
      para.dwMask |= PFM_RTLPARA;
      para.wReserved = PFE_RTLPARA;  // wEffects of the later format
    }
    ::SendMessageA(g_box.edit, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&para));
  }
  CHARRANGE none = {0, 0};
  ::SendMessageA(g_box.edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&none));

  BoxSize estimate;
  if (const HDC dc = ::GetDC(g_box.box)) {
    const HGDIOBJ old = ::SelectObject(dc, g_box.font.get());
    const ScopeGuard release([dc, old] {
      ::SelectObject(dc, old);
      ::ReleaseDC(g_box.box, dc);
    });
    TEXTMETRICA tm = {};
    ::GetTextMetricsA(dc, &tm);
    const int lineHeight = LineHeight(tm.tmHeight, tm.tmExternalLeading, g_font.face);
    estimate = EstimateTextSize(markup.plain, lineHeight, [dc](const std::string& line) { return LineWidth(dc, line); });
  }
  BoxSize control = ControlSizeFor(estimate);
  SizeEdit(control.width, control.height);
  if (!markup.bold.empty()) {
    control.width = FitBoldWidth(estimate, [&estimate](int width) {
      g_box.requestedWidth = 0;
      g_box.requestedHeight = 0;
      SizeEdit(width, estimate.height);
      ::SendMessageA(g_box.edit, EM_REQUESTRESIZE, 0, 0);
      return BoxSize{g_box.requestedWidth, g_box.requestedHeight};
    });
    SizeEdit(control.width, control.height);
  }
}

void LayOut() {
  RECT editRect = {};
  ::GetWindowRect(g_box.edit, &editRect);
  const BoxSize control = {editRect.right - editRect.left, editRect.bottom - editRect.top};
  const FrameMetrics frame = {::GetSystemMetrics(SM_CXSIZEFRAME), ::GetSystemMetrics(SM_CYSIZEFRAME),
                              ::GetSystemMetrics(SM_CYCAPTION)};
  const BoxSize size = BoxWindowSize(control, frame);
  const ScreenPoint at = CenterInWorkArea(size.width, size.height);
  ::SetWindowPos(g_box.box, nullptr, at.x, at.y, size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);

  RECT client = {};
  ::GetClientRect(g_box.box, &client);
  const BoxRect place = ControlRect(control, client.right, client.bottom);
  ::MoveWindow(g_box.edit, place.x, place.y, place.width, place.height, TRUE);
}

void CreateButtons(HINSTANCE instance, std::uint32_t flags) {
  RECT client = {};
  ::GetClientRect(g_box.box, &client);
  const int count = static_cast<int>(g_box.buttons.size());
  const int defaultIndex = DefaultButtonIndex(flags, count);
  for (int i = 0; i < count; ++i) {
    const BoxRect r = ButtonRect(i, count, client.right, client.bottom);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == defaultIndex ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    g_box.buttonWindows[i] =
        ::CreateWindowExA(0, "BUTTON", g_box.buttons[i].caption.c_str(), style, r.x, r.y, r.width, r.height, g_box.box,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstButtonId + i)), instance, nullptr);
    ::SendMessageA(g_box.buttonWindows[i], WM_SETFONT, reinterpret_cast<WPARAM>(g_box.font.get()), FALSE);
  }
  FocusButton(defaultIndex);
}

int ShowBox(const std::string& text, const std::string& title, std::uint32_t timeoutMs, std::uint32_t flags,
            HWND parent, const std::string& buttons) {
  KeepRichEditLoaded();

  g_box = BoxState{};
  g_box.timeoutMs = timeoutMs;
  g_box.noClose = (flags & mbNoClose) != 0;
  g_box.buttons = ButtonsFor(flags, buttons);
  g_box.previousActive = ::GetActiveWindow();
  if (g_box.previousActive) ::EnableWindow(g_box.previousActive, FALSE);
  // Whatever way the box ends, the window it disabled must work again.
  const ScopeGuard enableAgain([previous = g_box.previousActive] {
    if (previous && ::IsWindow(previous) && !::IsWindowEnabled(previous)) ::EnableWindow(previous, TRUE);
  });
  g_box.font = CreateBoxFont();

  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = BoxProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kMsgBoxClass;
  ::RegisterClassA(&wc);
  const ScopeGuard unregister([instance] { ::UnregisterClassA(kMsgBoxClass, instance); });

  g_box.box = ::CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kMsgBoxClass, title.c_str(),
                                WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, kMinBoxWidth, 200, parent, nullptr,
                                instance, nullptr);
  if (!g_box.box) {
    DebugLine("MarkupBox: no window (" + std::to_string(::GetLastError()) + ")");
    g_box = BoxState{};
    return idNone;
  }
  if (g_box.noClose) ::EnableMenuItem(::GetSystemMenu(g_box.box, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

  const DWORD editStyle = WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_WANTRETURN |
                          ((flags & mbRight) ? ES_RIGHT : 0);
  g_box.edit = ::CreateWindowExA((flags & mbRtlReading) ? WS_EX_RTLREADING : 0, kRichEditClass, "", editStyle, 0, 0,
                                 10, 10, g_box.box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), instance,
                                 nullptr);
  if (g_box.edit) {
    ::SendMessageA(g_box.edit, EM_SETEVENTMASK, 0, ENM_REQUESTRESIZE);
    ::SendMessageA(g_box.edit, WM_SETFONT, reinterpret_cast<WPARAM>(g_box.font.get()), FALSE);
    ::SendMessageA(g_box.edit, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(::GetSysColor(COLOR_WINDOW)));
    SetTextAndMeasure(text, flags);
  }
  LayOut();
  g_box.icon = IconFor(flags);
  CreateButtons(instance, flags);
  ::ShowWindow(g_box.box, SW_SHOW);
  ::UpdateWindow(g_box.box);
  FocusButton(DefaultButtonIndex(flags, static_cast<int>(g_box.buttons.size())));

  RunModalLoop(g_box.done, g_box.box, OfferKey, "MarkupBox");
  const int result = g_box.result;
  g_box = BoxState{};
  return result;
}

}  // namespace

int MarkupBox(std::intptr_t owner, const std::string& text, const std::string& title, std::uint32_t timeoutMs,
              std::uint32_t flags, int charset, const std::string& buttons) {
  if (g_unattended) {
    const std::vector<BoxButton> set = ButtonsFor(flags, buttons);
    const int index = DefaultButtonIndex(flags, static_cast<int>(set.size()));
    const int result = set.empty() ? idNone : set[static_cast<std::size_t>(index)].code;
    DebugLine("MarkupBox unattended, \"" + title + "\" answered " + std::to_string(result) + ": " + text);
    return result;
  }
  if (g_open) {
    DebugLine("MarkupBox: a box is already open, \"" + title + "\" not shown");
    return idNone;
  }
  g_open = true;
  const ScopeGuard closed([] { g_open = false; });

  flags = EffectiveFlags(flags, charset, owner);
  const std::string shown = owner == kOwnerHeading ? HeadingText(title, text) : text;
  HWND parent = nullptr;
  if (owner > kOwnerNoClose) {
    // A stale handle would make the box fail to appear at all.
    parent = reinterpret_cast<HWND>(owner);
    if (!::IsWindow(parent)) parent = nullptr;
  } else {
    parent = ::GetActiveWindow();
  }
  const int result = ShowBox(shown, title, timeoutMs, flags, parent, buttons);
  WaitYielding(0, 100);
  return result;
}

void ErrorBox(std::intptr_t owner, const std::string& text, const std::string& title, int charset,
              const std::string& buttons) {
  MarkupBox(owner, text, TitleOrKind(title, tkError), 0, mbIconStop | mbOk, charset,
            buttons.empty() ? kDefaultButtonList : buttons);
}

void WarningBox(std::intptr_t owner, const std::string& text, const std::string& title, std::uint32_t timeoutMs,
                int charset, const std::string& buttons) {
  MarkupBox(owner, text, TitleOrKind(title, tkAttention), timeoutMs, mbIconExclamation | mbOk, charset,
            buttons.empty() ? kDefaultButtonList : buttons);
}

bool ConfirmBox(std::intptr_t owner, const std::string& text, const std::string& title, std::uint32_t timeoutMs,
                int charset, const std::string& buttons) {
  return MarkupBox(owner, text, TitleOrKind(title, tkConfirm), timeoutMs, mbIconQuestion | mbYesNo, charset,
                   buttons.empty() ? kDefaultButtonList : buttons) == idYes;
}

bool OkCancelBox(std::intptr_t owner, const std::string& text, const std::string& title, int charset,
                 const std::string& buttons) {
  return MarkupBox(owner, text, TitleOrKind(title, tkConfirm), 0, mbIconQuestion | mbOkCancel, charset,
                   buttons.empty() ? kDefaultButtonList : buttons) == idOk;
}

void SetUnattended(bool on) { g_unattended = on; }
bool Unattended() { return g_unattended; }

void SetMsgBoxFont(const std::string& faceName, int points, int charset) {
  g_font.face = faceName;
  if (points != 0) g_font.points = points;
  g_font.charset = charset;
}

}  // namespace havrek
