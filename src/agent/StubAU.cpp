#include "agent/StubAU.h"

#include <cmath>
#include <limits>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "diag/HDebug.h"
#include "setup/EngineCommand.h"
#include "util/HSUB.h"
#include "util/ScopeGuard.h"
#include "util/Utils.h"

namespace havrek {

// ---- Update decision ----

std::string AUReasonText(int reason) { return SUB::GetField(kAUReasonList, reason); }

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if (b > 0 && a > kMax - b) return kMax;
  if (b < 0 && a < kMin - b) return kMin;
  return a + b;
}

bool ReAskTimeCome(std::int64_t reAskLast, std::int64_t reAskInterval, std::int64_t now) {
  return reAskInterval > 0 && SaturatingAdd(reAskLast, reAskInterval) < now;
}

bool VersionAdmitted(const std::string& validVersions, std::int32_t versionOriginal) {
  if (validVersions.empty()) return true;
  return ("," + validVersions + ",").find("," + IntText(versionOriginal) + ",") != std::string::npos;
}

bool SizeMatches(std::int64_t actual, std::int64_t expected) {
  // Far apart values would overflow the subtraction; they differ anyway.
  const std::int64_t diff = SaturatingAdd(actual, expected == std::numeric_limits<std::int64_t>::min()
                                                      ? std::numeric_limits<std::int64_t>::max()
                                                      : -expected);
  return diff > -100 && diff < 100;
}

SizeCheck CheckUpdateSize(bool testMode, const std::string& testModeLocation, const SizeLookup& lookup) {
  SizeCheck check;
  std::string name;
  if (GetAutoInform() == 1) {
    check.expected = GetSizeOfInformFile();
    name = GetNameOfInformFile();
  } else {
    check.expected = GetSizeOfUpdateFile();
    name = GetNameOfUpdateFile();
  }
  name = FileNamePart(name);
  const std::string base = testMode ? testModeLocation : GetDownloadURL_UPDATE();

  check.lastPath = base + "\\" + name;
  const std::int64_t local = lookup.fileSize ? lookup.fileSize(check.lastPath) : -1;
  if (local >= 0) {
    check.actual = local;
  } else if (!testMode && lookup.internetConnected && lookup.internetConnected()) {
    check.lastPath = base + "/" + name;
    check.actual = lookup.httpSize ? lookup.httpSize(check.lastPath) : -1;
  }

  check.passes = SizeMatches(check.actual, check.expected);
  if (!check.passes) {
    LogLine("  InfoSize=" + IntText(check.expected));
    LogLine("  HttpSize=" + IntText(check.actual));
    LogLine("  URL=" + check.lastPath);
  }
  return check;
}

AUDecision DecideAU(bool fetched, std::int64_t now, bool userProbe, bool testMode,
                    const std::string& testModeLocation, const SizeLookup& lookup) {
  int stage = aurInfoFetchFailed;
  // Each stage is reached only through the one before it; the size test,
  // which may go to the web, runs last.
  [&] {
    if (!fetched) return;
    stage = aurNoOriginal;
    const std::int32_t versionOriginal = GetVersionOriginal();
    if (versionOriginal <= 0) return;
    stage = aurTooEarly;
    if (GetInfoStamp() == GetOriginalStamp() &&
        !ReAskTimeCome(GetReAskSecondsLast(), GetReAskSecondsInterval(), now) && !userProbe)
      return;
    stage = aurNotHigher;
    if (GetVersionNew() <= versionOriginal) return;
    stage = aurVersionMismatch;
    if (!VersionAdmitted(GetValidVersions(), versionOriginal)) return;
    stage = aurSizeMismatch;
    if (!CheckUpdateSize(testMode, testModeLocation, lookup).passes) return;
    stage = aurOK;
  }();

  AUDecision decision;
  decision.due = stage == aurOK;
  decision.reason = stage;
  decision.text = AUReasonText(stage);
  DebugLine(PidText() + " GetOkToPerformAU=" + IntText(stage));
  LogLine("GetOkToPerformAU = " + IntText(stage) + " - " + decision.text);
  return decision;
}

void RecordDueOffer(std::int64_t now) {
  SetReAskSecondsLast(now);
  SetOriginalStamp(GetInfoStamp());
}

std::int64_t AgentNowSeconds() { return std::llround(LocalTimeToDays(plat::Now()) * 86400.0); }

// ---- Scheduling ----

ShotStatus ShotTimeStatusFor(bool autoProbe, bool forced, std::int64_t storedInterval, std::int64_t probeLast,
                             std::int64_t now, bool testMode) {
  if (!autoProbe && !forced) return shotNone;
  ShotStatus status = shotNone;
  const std::int64_t interval = testMode ? kTestModeProbeSeconds : storedInterval;
  if (now >= SaturatingAdd(probeLast, interval)) status = shotProbe;
  if (storedInterval == 0 && status == shotProbe) status = shotProbeOnce;
  if (storedInterval == -1) status = shotNone;
  if (forced) status = shotProbe;
  return status;
}

ShotStatus GetShotTimeStatus(std::int64_t now) {
  const bool forced = ForcedProbe();
  ShotStatus status = shotNone;
  if (GetAutoProbeEnabled() || forced)
    status = ShotTimeStatusFor(GetAutoProbeEnabled(), forced, GetProbeSecondsInterval(), GetProbeSecondsLast(), now,
                               TestMode());
  SetForcedProbe(false);
  return status;
}

void RunAgentTick(const TickActions& actions) {
  if (TickRunning()) return;
  SetTickRunning(true);
  // A tick that throws must not leave the guard up: every later tick would
  // return at once and the agent would never probe again.
  ScopeGuard release([] {
    SetAgentState(kAgentIdle);
    SetTickRunning(false);
  });

  if (JustDownloadInfoFile()) {
    DebugLine("-------------- JustDownloadInfoFile ---------------");
    SetJustDownloadInfoFile(false);
    if (actions.justFetchInfo) actions.justFetchInfo();
    return;
  }

  if (actions.applyMsgBoxFont) actions.applyMsgBoxFont();
  SetAgentState(kAgentIdle);

  if (UserCheck() == UserCheckState::asked) SetUserCheck(UserCheckState::running);
  if (UserCheck() == UserCheckState::running) SetAutoUpdateTimerCount(0);

  const std::int64_t countdown = QuitCountdown();
  if (countdown == 0 && actions.postQuit) actions.postQuit();
  if (countdown >= 0) SetQuitCountdown(countdown - 1);

  SetAutoUpdateTimerCount(AutoUpdateTimerCount() + 1);
  DebugLine(PidText() + " AutoUpdateTimerCount=" + IntText(AutoUpdateTimerCount()));

  if (AutoUpdateTimerCount() >= 1) {
    if (actions.checkTestMode) actions.checkTestMode();
    ShotStatus status = GetShotTimeStatus(actions.now ? actions.now() : 0);
    DebugLine(PidText() + " ShotTimeStatus=" + IntText(status));
    if (status == shotProbeOnce) SetAutoProbeEnabled(false);
    const bool userProbe = UserCheck() == UserCheckState::running;
    if (status >= shotProbe && (userProbe || GetAUOption(auoAskBeforeProbe)) && actions.askCheckNow)
      actions.askCheckNow(status);
    if (status >= shotProbe && actions.performShot) actions.performShot();
  }

  if (UserCheck() == UserCheckState::running) SetUserCheck(UserCheckState::none);
}

// ---- Texts ----

std::string CheckNowQuestion(const std::string& s22, const std::string& s23, const std::string& s24,
                             const std::string& location, bool testMode, const std::string& programName) {
  const bool drivePath = location.size() < 2 || location[1] == ':';
  const std::string question = s22 + (drivePath ? std::string() : s23) + s24 + (testMode ? kTestModeNote : "");
  return ReplaceAll(question, "PROG_NAME", programName);
}

std::string DownloadQuestion(const std::string& s11, const std::string& s12, const std::string& s13,
                             const std::string& s18, const std::string& s19, bool confirmInstall,
                             bool forcedNotice, const std::string& programName) {
  std::string second = confirmInstall ? s13 : s12;
  if (forcedNotice) second = confirmInstall ? s19 : s18;
  return ReplaceAll(s11 + second, "PROG_NAME", programName);
}

ProbeReport UserProbeReport(const ProbeReportInput& in) {
  ProbeReport report;
  if (in.due) return report;
  if (!in.testMode && !in.connected) {
    report.kind = ProbeReportKind::error;
    report.text = in.s2;
    if (!in.connectionError.empty()) report.text += "<P><P>" + in.connectionError;
  } else if (in.testMode || in.fetchError.empty()) {
    report.kind = ProbeReportKind::warning;
    report.text = in.s21;
    if (in.developerMode) report.text += "<P><P>(" + IntText(in.reason) + " - " + in.reasonText + ")   ";
  } else {
    report.kind = ProbeReportKind::error;
    report.text = in.fetchError;
  }
  return report;
}

std::string OriginalInfoSwitch(const std::string& infoPath) { return "/OriginalInfoFile=\"" + infoPath + "\""; }

std::string FreshAgentCommand(const std::string& agentDir, const std::string& agentFileName,
                              const std::string& optionsText, bool quiet) {
  return QuoteProgramPath(SetTrailingBackslash(agentDir, true) + agentFileName) + " /_ZZ=99 /WAIT=10 /TRANSIENT=" +
         optionsText + (quiet ? " /quiet" : "");
}

std::string RestartCommand(const std::string& program) { return QuoteProgramPath(program); }

bool ShouldRestart(bool restartOption, bool wasRunning, bool stillRunning) {
  return restartOption && wasRunning && !stillRunning;
}

}  // namespace havrek
