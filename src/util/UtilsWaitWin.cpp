#include "util/UtilsWaitWin.h"

#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <exception>

#include "diag/HDebug.h"
#include "util/ScopeGuard.h"
#include "util/UtilsSystem.h"
#include "util/UtilsWin.h"
#include "util/WinCompat.h"

namespace havrek {
namespace {

std::atomic<UINT> g_autoPlayMessage{0};

std::int64_t CounterFrequency() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
  }();
  return frequency;
}

// The search flags of LoadLibraryEx came with the same update as
// AddDllDirectory; older systems reject them as an invalid parameter.
bool HasDllSearchFlags() {
  static const bool has = [] {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
  }();
  return has;
}

}  // namespace

std::int64_t TickMs() {
  const std::int64_t frequency = CounterFrequency();
  LARGE_INTEGER counter;
  if (frequency == 0 || !::QueryPerformanceCounter(&counter)) return static_cast<std::int64_t>(::GetTickCount64());
  const std::int64_t c = counter.QuadPart;
  return c / frequency * 1000 + (c % frequency * 1000 + frequency / 2) / frequency;
}

void YieldX(std::uint32_t ms) {
  // A quit request for the thread is kept aside and posted again once the
  // queue is empty: dispatching it would drop it, and the main loop would
  // then never end.
  bool quit = false;
  WPARAM quitCode = 0;
  ReportingExceptions("YieldX", [&] {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT && msg.hwnd == nullptr) {
        quit = true;
        quitCode = msg.wParam;
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  });
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
  ::Sleep(ms);
}

void WaitYielding(std::uint32_t slice, std::int64_t total) {
  const std::uint32_t step = YieldSliceMs(slice, total);
  const std::int64_t end = TickMs() + total;
  do {
    YieldX(step);
  } while (TickMs() < end);
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

bool WaitWindowGone(const std::string& windowClass, const std::string& title, std::int64_t timeoutMs) {
  if (windowClass.empty() && title.empty()) return true;
  const char* cls = windowClass.empty() ? nullptr : windowClass.c_str();
  const char* caption = title.empty() ? nullptr : title.c_str();
  const std::int64_t end = TickMs() + timeoutMs;
  while (::FindWindowA(cls, caption)) {
    if (timeoutMs >= 0 && TickMs() >= end) return false;
    YieldX(0);
    ::Sleep(100);
  }
  return true;
}

bool ShellOpen(const std::string& target, const std::string& parameters, int showCommand) {
  const HINSTANCE result = ::ShellExecuteA(::GetDesktopWindow(), nullptr, target.c_str(),
                                           parameters.empty() ? nullptr : parameters.c_str(), nullptr, showCommand);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

FARPROC LoadDllProc(const std::string& library, const std::string& proc, HMODULE* module) {
  if (module) *module = nullptr;
  // Only the system folder: a bare name would also be looked for in the
  // current and the application folder, where a download may have put a DLL
  // of the same name.
  if (library.empty() || library.find_first_of("\\/:") != std::string::npos) return nullptr;
  HMODULE loaded = nullptr;
  if (HasDllSearchFlags()) {
    loaded = ::LoadLibraryExA(library.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  } else {
    const std::string folder = SystemDir(true);
    if (!folder.empty())
      loaded = ::LoadLibraryExA((folder + library).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  if (!loaded) return nullptr;
  if (module) *module = loaded;
  return proc.empty() ? nullptr : ::GetProcAddress(loaded, proc.c_str());
}

FARPROC LoadDllProc(const std::string& library, const std::string& proc) {
  return LoadDllProc(library, proc, nullptr);
}

void RegisterAutoPlayMessage(bool on) {
  g_autoPlayMessage.store(on ? ::RegisterWindowMessageA("QueryCancelAutoPlay") : 0);
}

UINT AutoPlayMessage() { return g_autoPlayMessage.load(); }

bool DeveloperMode() {
  static const bool on = [] {
    char value[8] = {};
    const DWORD n = ::GetEnvironmentVariableA("DVX", value, sizeof value);
    return n == 3 && std::strcmp(value, "952") == 0;
  }();
  return on;
}

}  // namespace havrek
