#include "ui/UiKitWin.h"

#include <shellapi.h>

#include <atomic>
#include <cstring>

#include "diag/HDebug.h"
#include "util/ScopeGuard.h"
#include "util/UtilsDllWin.h"

namespace havrek {

void KeepRichEditLoaded() {
  static bool kept = false;
  if (kept) return;
  kept = true;
  LoadDllProc(kRichEditLibrary, "");
}

GdiObject CreateSwissFont(const std::string& face, int height, int charset) {
  LOGFONTA lf = {};
  lf.lfHeight = height;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = static_cast<BYTE>(charset);
  lf.lfPitchAndFamily = FF_SWISS;
  std::strncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return GdiObject(::CreateFontIndirectA(&lf));
}

void RunModalLoop(const bool& done, HWND window, bool (*offer)(const MSG&), const char* routine) {
  bool quit = false;
  WPARAM quitCode = 0;
  MSG msg;
  while (!done) {
    if (::GetMessageA(&msg, nullptr, 0, 0) <= 0) {
      quit = msg.message == WM_QUIT;
      quitCode = msg.wParam;
      break;
    }
    ReportingExceptions(routine, [&] {
      if (!offer || !offer(msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    });
  }
  if (!done && ::IsWindow(window)) ::SendMessageA(window, WM_CLOSE, 0, 0);
  if (!done && ::IsWindow(window)) ::DestroyWindow(window);
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

int ScreenDpiY() {
  static std::atomic<int> dpi{0};
  if (dpi.load() == 0) {
    if (const HDC screen = ::GetDC(nullptr)) {
      const ScopeGuard release([screen] { ::ReleaseDC(nullptr, screen); });
      dpi.store(::GetDeviceCaps(screen, LOGPIXELSY));
    }
  }
  return dpi.load() > 0 ? dpi.load() : 96;
}

int PointsToPixels(int points) { return ::MulDiv(points, ScreenDpiY(), 72); }

ScreenPoint CenterInWorkArea(int width, int height) {
  RECT area = {};
  if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0))
    area = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  return {area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2};
}

std::string WindowText(HWND window) {
  if (!window || !::IsWindow(window)) return std::string();
  char buffer[1024] = {};
  const int n = ::GetWindowTextA(window, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n) : std::string();
}

bool ShellOpen(const std::string& target, const std::string& parameters, int showCommand) {
  const HINSTANCE result = ::ShellExecuteA(::GetDesktopWindow(), nullptr, target.c_str(),
                                           parameters.empty() ? nullptr : parameters.c_str(), nullptr, showCommand);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace havrek
