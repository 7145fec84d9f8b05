#include "agent/AgentStateWin.h"

#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "net/InetHTTP.h"
#include "platform/Platform.h"
#include "util/Utils.h"
#include "util/UtilsRegIniWin.h"

namespace havrek {
namespace {

void PostToListener(std::uintptr_t window, std::uint32_t message, std::uintptr_t code, std::intptr_t value) {
  // A listener that has gone may leave its handle to another program's window.
  if (!::IsWindow(reinterpret_cast<HWND>(window))) return;
  ::PostMessageA(reinterpret_cast<HWND>(window), message, static_cast<WPARAM>(code), static_cast<LPARAM>(value));
}

}  // namespace

const TestModeSources& SystemTestModeSources() {
  static const TestModeSources sources{
      [] { return static_cast<std::uint32_t>(::GetTickCount()); },
      [](const std::string& name, const std::string& def) { return ReadRegString(kTestModeKey, name, def); },
      [] { return DateText(plat::Now()); },
  };
  return sources;
}

bool CheckTestMode(bool force) { return CheckTestMode(force, SystemTestModeSources()); }

void NotifyListener(int code, std::intptr_t value) { NotifyListener(code, value, PostToListener); }

void AgentSleepTicks(std::int64_t n) { SetAutoUpdateTimerCount(-n); }

// The count is a 32-bit value on every build: -1 stays -1 on x86_64 too.
// A copy inside a fetch sees no tick until the fetch ends (the tick guard),
// so a stop for now also ends the fetch; one a few ticks ahead lets it
// finish first.
void AgentShutDown(WPARAM countdown) {
  const std::int32_t ticks = static_cast<std::int32_t>(countdown);
  SetQuitCountdown(ticks);
  if (ticks == 0) SetDownloadAbort(true);
}

void AgentRegisterListener(WPARAM window, LPARAM message) {
  // Anybody may register: a number that is no window, or HWND_BROADCAST,
  // would have the notifications (any message the sender chose, WM_CLOSE
  // too) reach every window of the session. Window 0 still unregisters.
  const HWND listener = reinterpret_cast<HWND>(window);
  if (listener && (listener == HWND_BROADCAST || !::IsWindow(listener))) {
    LogLine("Listener refused: " + std::to_string(static_cast<unsigned long long>(window)) + " is no window");
    return;
  }
  SetListener(static_cast<std::uintptr_t>(window), static_cast<std::uint32_t>(message));
  NotifyListener(kNotifyAgentWindow, reinterpret_cast<std::intptr_t>(MainWindowHandle()));
  NotifyListener(kNotifyCommandMessage, kAgentCommandMessage);
}

void AgentLoopEnded() { NotifyListener(kNotifyLoopEnded, 0); }

}  // namespace havrek
