#include "util/UtilsWaitWin.h"

#include <atomic>
#include <exception>

#include "diag/HDebug.h"
#include "util/UtilsSystem.h"

namespace havrek {
namespace {

std::int64_t CounterFrequency() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
  }();
  return frequency;
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

}  // namespace havrek
