#include "launcher/MainWindow.h"

#include <commctrl.h>

#include <exception>
#include <utility>
#include <vector>

#include "diag/HDebug.h"
#include "files/Files.h"
#include "launcher/StubWin.h"
#include "net/InetHTTP.h"
#include "package/PackX.h"
#include "setup/StubSetup.h"
#include "setup/StubSetupFolder.h"
#include "ui/HMsgBox.h"
#include "ui/UiKitWin.h"
#include "util/Utils.h"
#include "util/UtilsDllWin.h"
#include "util/UtilsSystemWin.h"
#include "util/WinHandle.h"

namespace havrek {
namespace {

MainWindowHooks hooks;

HWND mainWindow = nullptr;
HWND statusLine = nullptr;
HWND progressBar = nullptr;
HWND activityBar = nullptr;
bool quitFlag = false;
int activityCounter = 0;
// The language's character set while the window is being created: WM_CREATE
// lays the children out by it.
int layoutCharset = 0;
// The fonts given to controls, released once the controls are gone.
std::vector<std::pair<HWND, GdiObject>> controlFonts;

constexpr int kActivitySteps = 5;

bool IsRtlCharset(int charset) { return charset == 177 || charset == 178; }

HICON MainIcon() { return ::LoadIconA(::GetModuleHandleA(nullptr), "MainIcon"); }

std::string ClassName() {
  // Start-up names the class; a window made before that (a test, a picture)
  // follows the same rule.
  const std::string& name = StubWindowClass();
  return name.empty() ? StubWindowClassFor(IsAutoUpdateProg(), ExePath(false)) : name;
}

// comctl32 is not among the stub's load-time imports: it is reached through
// the system folder only, like every library loaded by name.
void InitProgressControls() {
  using InitEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  using Init = void(WINAPI*)();
  if (const FARPROC initEx = LoadDllProc("comctl32.dll", "InitCommonControlsEx")) {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    reinterpret_cast<InitEx>(reinterpret_cast<void*>(initEx))(&icc);
  } else if (const FARPROC init = LoadDllProc("comctl32.dll", "InitCommonControls")) {
    reinterpret_cast<Init>(reinterpret_cast<void*>(init))();
  }
}

void KeepFont(HWND control, HFONT font) {
  for (auto& [owner, held] : controlFonts) {
    if (owner == control) {
      held.reset(font);
      return;
    }
  }
  controlFonts.emplace_back(control, GdiObject(font));
}

HFONT MakeFont(int height, int charset, const std::string& face) {
  return ::CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, static_cast<BYTE>(charset),
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       face.c_str());
}

HWND MakeChild(HWND parent, const char* cls, DWORD style, int x, int y, int w, int h) {
  return ::CreateWindowExA(0, cls, "", WS_CHILD | style, x, y, w, h, parent, nullptr, ::GetModuleHandleA(nullptr),
                           nullptr);
}

// What the role bodies see of the window: kept current while it lives.
void UpdateFace() {
  MainWindowFace& face = MainFace();
  face.window = mainWindow;
  face.statusLine = statusLine;
  face.activityBar = activityBar;
}

void ApplyStatusText(HWND control, const std::string& text, const std::string& face, int points, int charset);
void StepProgress(int kind, int reserved, int maximum, int position, int step, const std::string& text);

void StopTimer() {
  if (mainWindow) ::KillTimer(mainWindow, kMainTimerId);
}

void OnCreate(HWND window) {
  mainWindow = window;
  const bool rtl = IsRtlCharset(layoutCharset);
  statusLine = MakeChild(window, "Static", WS_VISIBLE, rtl ? 122 : 70, 20, 340, 18);
  progressBar = MakeChild(window, PROGRESS_CLASSA, WS_VISIBLE, 70, 38, 392, 13);
  activityBar = MakeChild(window, PROGRESS_CLASSA, 0, rtl ? 70 : 416, 20, 46, 13);
  UpdateFace();
  ::SetTimer(window, kMainTimerId, kMainTimerMs, nullptr);
  if (statusLine) {
    const HFONT font = MakeFont(-11, 0, "Tahoma");
    ::SendMessageA(statusLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    KeepFont(statusLine, font);
  }
}

void OnPaint(HWND window) {
  PAINTSTRUCT ps;
  const HDC dc = ::BeginPaint(window, &ps);
  if (!dc) return;
  RECT client;
  ::GetClientRect(window, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  if (const HICON icon = MainIcon()) ::DrawIcon(dc, 18, 20, icon);
  ::EndPaint(window, &ps);
}

void OnNcDestroy(HWND window) {
  if (window != mainWindow) return;
  mainWindow = statusLine = progressBar = activityBar = nullptr;
  UpdateFace();
  controlFonts.clear();
}

// The tick runs whole flows (the setup, the agent's probes). Whatever they
// throw stops here; a setup tick that fails ends the run, since nothing
// else would: its timer is gone and the window hidden.
void OnTimer(HWND window) {
  const bool agent = IsAutoUpdateProg();
  const bool ran = ReportingExceptions("TimerTick", [&] {
    if (agent) {
      if (hooks.agentTick) {
        hooks.agentTick();
      } else {
        // Without a scheduler plugged in the agent copy has nothing to wait
        // for: it ends instead of staying hidden for ever.
        ::KillTimer(window, kMainTimerId);
        ::PostQuitMessage(0);
      }
    } else if (hooks.setupTick) {
      hooks.setupTick();
    } else {
      SetupTimerTick();
    }
  });
  if (!ran && !agent) {
    ::KillTimer(window, kMainTimerId);
    DestroyMainWindow();
  }
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const UINT autoPlay = AutoPlayMessage();
  if (autoPlay != 0 && message == autoPlay) return 1;

  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      break;
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_CLOSE:
      if (!CloseMainWindow()) return 0;
      break;
    case WM_DESTROY:
      DebugLine("- wm_Destroy -");
      DestroyMainWindow();
      break;
    case WM_QUIT:
      DebugLine("- wm_Quit -");
      DestroyMainWindow();
      break;
    case WM_NCDESTROY:
      OnNcDestroy(window);
      break;
    case WM_TIMER:
      OnTimer(window);
      break;
    case wm_ShutDown:
      if (hooks.shutDown) hooks.shutDown(wParam);
      break;
    case wm_LocalMsg:
      if (hooks.localMsg) hooks.localMsg(wParam, lParam);
      break;
    case wm_AgentMsg:
      return hooks.agentMsg ? hooks.agentMsg(wParam, lParam) : 0;
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

// Nothing may unwind into the system's dispatch code.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  ReportingExceptions("MainWindowProc", [&] { result = HandleMessage(window, message, wParam, lParam); });
  return result;
}

void RunMessageLoop() {
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
    if (quitFlag) break;
  }
}

}  // namespace

MainWindowHooks& MainHooks() { return hooks; }

HWND MainProgressBar() { return progressBar; }

HWND CreateMainWindow(const std::string& caption, int charset) {
  MainWindowFace& face = MainFace();
  face.setStatusText = ApplyStatusText;
  face.progress = StepProgress;
  face.stopTimer = StopTimer;
  InitProgressControls();
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  const std::string cls = ClassName();

  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = MainIcon();
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = cls.c_str();
  if (!::RegisterClassA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;

  const ScreenPoint at = CenterInWorkArea(kMainWindowWidth, kMainWindowHeight);
  layoutCharset = charset;
  activityCounter = 0;
  return ::CreateWindowExA(0, cls.c_str(), caption.c_str(), WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, at.x, at.y,
                           kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, instance, nullptr);
}

void WinMain() {
  quitFlag = false;
  const std::int64_t sleepTicks = GetSwitchInt("/SleepX=", -1);
  if (sleepTicks >= 0 && hooks.sleepTicks) hooks.sleepTicks(sleepTicks);

  const TGFileInfo& package = OwnPackage();
  const HWND window = CreateMainWindow(package.GetText("s0"), package.Charset());
  if (!window) DebugLine("WinMain: no main window (" + std::to_string(::GetLastError()) + ")");
  SetMsgBoxFont(package.FontName(), package.FontSize(), package.Charset());
  if (window) {
    ::ShowWindow(window, SW_HIDE);
    RunMessageLoop();
  }

  if (mainWindow) ::KillTimer(mainWindow, kMainTimerId);
  SetDownloadAbort(true);
  FreeWinInet();
  if (hooks.loopEnded) hooks.loopEnded();
}

namespace {

void ApplyStatusText(HWND control, const std::string& text, const std::string& face, int points, int charset) {
  if (!control) return;
  const bool rtl = IsRtlCharset(charset);
  ::SetWindowLongPtrA(control, GWL_EXSTYLE, rtl ? WS_EX_RTLREADING : 0);
  ::SetWindowLongPtrA(control, GWL_STYLE, WS_CHILD | WS_VISIBLE | (rtl ? SS_RIGHT : 0));

  const HFONT font = MakeFont(-PointsToPixels(points), charset, face);
  ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  KeepFont(control, font);
  ::SetWindowTextA(control, text.c_str());
}

void StepProgress(int kind, int /*reserved*/, int maximum, int position, int step, const std::string& /*text*/) {
  switch (kind) {
    case 0:
      ::SendMessageA(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
      ::SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
      ::SendMessageA(progressBar, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
      ::SendMessageA(activityBar, PBM_SETRANGE, 0, MAKELPARAM(0, kActivitySteps));
      ::SendMessageA(activityBar, PBM_SETPOS, 0, 0);
      ::SendMessageA(activityBar, PBM_SETSTEP, 1, 0);
      break;
    case 1:
      ::SendMessageA(progressBar, PBM_STEPIT, 0, 0);
      if (++activityCounter > kActivitySteps) activityCounter = 0;
      ::SendMessageA(activityBar, PBM_SETPOS, static_cast<WPARAM>(activityCounter), 0);
      break;
    default:
      break;
  }
}

}  // namespace

bool CloseMainWindow() {
  LogLine(".. CloseMainWindow() - Start");
  const bool aborted = DownloadAborted();
  if (!aborted) SetDownloadAbort(true);
  LogLine(".. CloseMainWindow() - End");
  return aborted;
}

void DestroyMainWindow() {
  LogLine(".. DestroyMainWindow() - Start");
  SetDownloadAbort(true);
  DropSetupFolder();
  ::PostQuitMessage(0);
  quitFlag = true;
  LogLine(".. DestroyMainWindow() - End");
}

}  // namespace havrek
