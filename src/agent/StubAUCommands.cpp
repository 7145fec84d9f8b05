#include "agent/StubAUCommands.h"

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "setup/EngineCommand.h"
#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {

std::int32_t AgentCommand(std::int32_t code, std::int32_t value) {
  // The readers answer the low 32 bits of the stored 64-bit numbers; the
  // writers store the value sign-extended, so -1 stays -1.
  const auto low32 = [](std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); };
  const std::int64_t wide = value;
  switch (code) {
    case kCmdVersionOriginal:
      return GetVersionOriginal();
    case kCmdVersionNew:
      return GetVersionNew();
    case kCmdAgentState:
      return AgentState();
    case kCmdGetProbeInterval:
      return low32(GetProbeSecondsInterval());
    case kCmdGetReAskInterval:
      return low32(GetReAskSecondsInterval());
    case kCmdGetProbeLast:
      return low32(GetProbeSecondsLast());
    case kCmdGetReAskLast:
      return low32(GetReAskSecondsLast());
    case kCmdSetProbeInterval:
      SetProbeSecondsInterval(wide);
      return 0;
    case kCmdSetReAskInterval:
      SetReAskSecondsInterval(wide);
      return 0;
    case kCmdSetProbeLast:
      SetProbeSecondsLast(wide);
      return 0;
    case kCmdSetReAskLast:
      SetReAskSecondsLast(wide);
      return 0;
    case kCmdQuitCountdown:
      SetQuitCountdown(wide);
      return 0;
    case kCmdForceProbe:
      SetForcedProbe(true);
      if (AutoUpdateTimerCount() < 1) SetAutoUpdateTimerCount(1);
      if (value == kForceProbeForUser) SetUserCheck(UserCheckState::asked);
      return 0;
    case kCmdJustDownloadInfo:
      SetJustDownloadInfoFile(true);
      return 0;
    default:
      if (code >= kCmdFirstOption && code <= kCmdLastOption)
        SetAUOptionOverride(code - kCmdFirstOption, static_cast<std::uint8_t>(value & 0xFF));
      return 0;
  }
}

ListenerRequest ParseListenerRequest(const std::string& value) {
  const std::string list = ":" + value + ":";
  ListenerRequest r;
  r.window = TextToInt64(SUB::GetField(list, 0), 0);
  r.message = TextToInt64(SUB::GetField(list, 1), 0);
  return r;
}

std::string AgentCopyPath(const std::string& exePath) {
  return FileDirPart(exePath) + "X_" + FileNamePart(exePath);
}

std::string AgentCopyCommandLine(const std::string& copyPath, const std::string& transient,
                                 const std::string& delay, bool quiet) {
  std::string extra;
  if (!transient.empty()) extra = " /TRANSIENTx=" + transient;
  if (!delay.empty()) extra = " /SleepX=" + delay;
  if (quiet) extra += " /quiet";
  return QuoteProgramPath(copyPath) + extra;
}

}  // namespace havrek
