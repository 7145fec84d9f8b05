#include "agent/StubInformDlg.h"

#include <windows.h>
#include <richedit.h>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "agent/StubAUFetch.h"
#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "ui/UiKitWin.h"
#include "util/ScopeGuard.h"
#include "util/Utils.h"
#include "util/WinHandle.h"

namespace havrek {
namespace {

constexpr int kEditId = 99;
constexpr int kButtonId = 100;

// One page at a time, process-wide.
struct PageState {
  std::string link;
  HINSTANCE module = nullptr;
  GdiObject buttonFont;
  GdiObject pageFont;
  HWND window = nullptr;
  HWND edit = nullptr;
  HWND button = nullptr;
  bool done = false;
};

PageState g_page;
bool g_open = false;

bool OpenLink(const std::string& link) {
  if (!IsWebLink(link)) {
    LogLine("Link not opened, no web address: " + link);
    DebugLine(PidText() + " ShowInformPage: link not opened, no web address: " + link);
    return false;
  }
  LogLine("Open link: " + link);
  return ShellOpen(link, std::string(), SW_SHOW);
}

void LayOut(HWND window) {
  RECT client = {};
  ::GetClientRect(window, &client);
  const bool hasLink = g_page.button != nullptr;
  const InformRect edit = InformEditRect(client.right, client.bottom, hasLink);
  if (g_page.edit) ::MoveWindow(g_page.edit, edit.x, edit.y, edit.width, edit.height, TRUE);
  if (hasLink) {
    const InformRect button = InformButtonRect(client.right, client.bottom);
    ::MoveWindow(g_page.button, button.x, button.y, button.width, button.height, TRUE);
  }
}

void Paint(HWND window) {
  PAINTSTRUCT ps;
  const HDC dc = ::BeginPaint(window, &ps);
  if (!dc) return;
  RECT client = {};
  ::GetClientRect(window, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  if (g_page.button) {
    const int lineY = InformBandLineY(client.bottom);
    const RECT line = {0, lineY, client.right, lineY + 1};
    ::FillRect(dc, &line, ::GetSysColorBrush(COLOR_3DDKSHADOW));
    const RECT band = {0, lineY + 1, client.right, client.bottom};
    ::FillRect(dc, &band, ::GetSysColorBrush(COLOR_BTNFACE));
  }
  ::EndPaint(window, &ps);
}

LRESULT HandlePageMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_DESTROY:
      g_page.done = true;
      return 1;
    case WM_SIZE:
      LayOut(window);
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_COMMAND:
      if (g_page.button && reinterpret_cast<HWND>(lParam) == g_page.button && HIWORD(wParam) == BN_CLICKED) {
        OpenLink(g_page.link);
        ::PostMessageA(window, WM_CLOSE, 0, 0);
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcA(window, msg, wParam, lParam);
}

LRESULT CALLBACK PageProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  ReportingExceptions("ShowInformPage", [&] { result = HandlePageMessage(window, msg, wParam, lParam); });
  return result;
}

// False when the window could not be made: nothing was shown.
bool ShowWindowAndWait(HWND owner, const std::string& title, const std::string& buttonCaption,
                       const std::string& pageText, int width, int height, const std::string& faceName, int points,
                       int charset) {
  g_page.done = false;
  g_page.module = ::GetModuleHandleA(nullptr);
  KeepRichEditLoaded();
  g_page.buttonFont = CreateSwissFont(faceName, -PointsToPixels(points), charset);
  g_page.pageFont = CreateSwissFont(InformPageFace(faceName), kInformPageFontHeight, charset);

  WNDCLASSA wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = PageProc;
  wc.hInstance = g_page.module;
  wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kInformPageClass;
  ::RegisterClassA(&wc);
  const ScopeGuard unregister([] { ::UnregisterClassA(kInformPageClass, g_page.module); });

  const InformRect at =
      InformWindowRect(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), width, height);
  // The controls come after the window, so its first WM_SIZE finds none;
  // LayOut places them once they exist.
  g_page.window = ::CreateWindowExA(WS_EX_DLGMODALFRAME, kInformPageClass, title.c_str(),
                                    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_VISIBLE, at.x, at.y,
                                    at.width, at.height, owner, nullptr, g_page.module, nullptr);
  if (!g_page.window) {
    const std::string why = "ShowInformPage: no window (" + std::to_string(::GetLastError()) + ")";
    DebugLine(PidText() + " " + why);
    LogLine(why);
    return false;
  }

  g_page.edit = ::CreateWindowExA(0, kRichEditClass, "",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN, 0,
                                  0, 10, 10, g_page.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)),
                                  g_page.module, nullptr);
  if (g_page.edit) {
    ::SendMessageA(g_page.edit, WM_SETFONT, reinterpret_cast<WPARAM>(g_page.pageFont.get()), FALSE);
    ::SendMessageA(g_page.edit, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(::GetSysColor(COLOR_WINDOW)));
    // The control's default limit would cut long pages.
    ::SendMessageA(g_page.edit, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(pageText.size() + 1));
    ::SetWindowTextA(g_page.edit, pageText.c_str());
  }
  if (!g_page.link.empty()) {
    g_page.button = ::CreateWindowExA(0, "Button", buttonCaption.c_str(),
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0,
                                      kInformButtonWidth, kInformButtonHeight, g_page.window,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), g_page.module,
                                      nullptr);
    if (g_page.button) {
      ::SendMessageA(g_page.button, WM_SETFONT, reinterpret_cast<WPARAM>(g_page.buttonFont.get()), FALSE);
      ::SetWindowLongPtrA(g_page.button, GWLP_USERDATA, 1);
      ::SetActiveWindow(g_page.window);
      ::SetFocus(g_page.button);
      ::SendMessageA(g_page.button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    }
  }
  LayOut(g_page.window);
  ::UpdateWindow(g_page.window);
  RunModalLoop(g_page.done, g_page.window, nullptr, "ShowInformPage");
  return true;
}

}  // namespace

bool ShowInformPage(std::intptr_t owner, const std::string& title, const std::string& buttonCaption,
                    const std::string& pageText, const std::string& link, int width, int height,
                    const std::string& faceName, int points, int charset) {
  const std::string trimmed = Trim(link);
  if (pageText.empty()) return !trimmed.empty() && OpenLink(trimmed);
  if (g_open) {
    DebugLine(PidText() + " ShowInformPage: a page is already open, \"" + title + "\" not shown");
    return false;
  }
  g_open = true;
  // The fonts go with the window: an agent shows pages for weeks.
  const ScopeGuard closed([] {
    g_page = PageState{};
    g_open = false;
  });
  g_page.link = trimmed;
  HWND parent = reinterpret_cast<HWND>(owner);
  if (parent && !::IsWindow(parent)) parent = nullptr;
  return ShowWindowAndWait(parent, title, buttonCaption, pageText, width, height, faceName, points, charset);
}

bool PerformAutoInform() {
  LogLine("PerformAutoInform() - START ");
  DebugLine(PidText() + " ==== PerformAutoInform-1 ====");
  bool shown = false;
  const std::string base = GetDownloadURL_UPDATE();
  const std::string given = GetNameOfInformFile();
  if (!base.empty() && !given.empty()) {
    DebugLine(PidText() + " ==== PerformAutoInform-2 ====");
    SetAgentState(kAgentFetchingPackage);
    NotifyListener(kNotifyPackageFetch, 1);
    const FetchResult fetched = DownloadFileAU(base, given, FetchKind::inform);
    NotifyListener(kNotifyPackageFetch, 2);
    if (fetched.success) {
      DebugLine(PidText() + " ==== PerformAutoInform-3 ====");
      const std::string page = InformPageText(ReadFileText(fetched.path));
      DropFetched(fetched);
      shown = ShowInformPage(reinterpret_cast<std::intptr_t>(MainWindowHandle()), GetAUText("s34"),
                             GetAUText("s35"), page, GetDownloadURL_INFORM(), static_cast<int>(GetAutoInformW()),
                             static_cast<int>(GetAutoInformH()), GetMsgBoxFontName(),
                             static_cast<int>(GetMsgBoxFontSize()), static_cast<int>(GetMsgBoxCharSet()));
      if (shown) SetVersionOriginal(GetVersionNew());
      DebugLine(PidText() + " ==== PerformAutoInform-4 ====");
    }
  }
  LogLine("PerformAutoInform() - END " + BoolText(shown));
  return shown;
}

}  // namespace havrek
