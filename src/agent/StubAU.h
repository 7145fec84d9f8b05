// The agent copy's scheduler and update cycle: every tick of its main window
// decides whether a probe is due, and a probe fetches the .info file, decides
// whether an update (or an information page) is due, and carries it out.
// The decisions and texts are portable and read the settings through their
// INI binding; what touches the system comes in through small tables of
// functions, filled by the Win32 shell (StubAUWin.cpp) or by tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace havrek {

// ---- Update decision ----

// Plain numbers: the log and the debug output show a reason as its number,
// which is also its field in kAUReasonList.
enum AUReason : int {
  aurInfoFetchFailed = 0,
  aurNoOriginal = 1,
  aurTooEarly = 2,
  aurNotHigher = 3,
  aurVersionMismatch = 4,
  aurSizeMismatch = 5,
  aurOK = 6,
};

// The reason texts as one "|" list, field n being reason n; the log and the
// user's probe report quote them as they are.
inline constexpr char kAUReasonList[] =
    "|Error downloading .INFO file|Error reading .ORIGINAL file|Too early for retesting"
    "|New version is not higher then old version|\"Valid for version\" mismatch"
    "|Download file size error|OK|";
std::string AUReasonText(int reason);

// a + b, held at the ends of the 64-bit range instead of wrapping: a huge
// interval in a settings file means "not for a long time", never "now".
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b);

// The re-ask time has come: last + interval lies before now and the
// interval is above 0.
bool ReAskTimeCome(std::int64_t reAskLast, std::int64_t reAskInterval, std::int64_t now);
// validVersions empty, or "," + version + "," a plain substring of
// "," + validVersions + ",".
bool VersionAdmitted(const std::string& validVersions, std::int32_t versionOriginal);
// |actual - expected| < 100.
bool SizeMatches(std::int64_t actual, std::int64_t expected);

// What the size test asks of the system.
struct SizeLookup {
  // Size of the file at path, -1 when there is none.
  std::function<std::int64_t(const std::string& path)> fileSize;
  std::function<bool()> internetConnected;
  // Content-Length of the URL, -1 when it has none or does not open.
  std::function<std::int64_t(const std::string& url)> httpSize;
};

struct SizeCheck {
  bool passes = false;
  std::int64_t expected = 0;
  std::int64_t actual = -1;
  std::string lastPath;  // the last place asked
};
// The announced package (or page, when the .info file announces one) against
// the file at its folder source or, failing that and outside test mode, on
// the web. Logs the three figures when it does not pass.
SizeCheck CheckUpdateSize(bool testMode, const std::string& testModeLocation, const SizeLookup& lookup);

struct AUDecision {
  bool due = false;
  int reason = aurInfoFetchFailed;
  std::string text;
};
// The seven-stage chain over the .original and .info files; logs the stage
// reached. userProbe: the probe was asked for by the user.
AUDecision DecideAU(bool fetched, std::int64_t now, bool userProbe, bool testMode,
                    const std::string& testModeLocation, const SizeLookup& lookup);

// A due offer is remembered before anything is asked, so that a user who
// declines is not asked again before the re-ask time or a new Stamp.
void RecordDueOffer(std::int64_t now);

// Seconds since 1899-12-30 00:00 local time, now.
std::int64_t AgentNowSeconds();

// ---- Scheduling ----

// Plain numbers: every tick shows its status as a number in the debug output
// (" ShotTimeStatus=1").
enum ShotStatus : int {
  shotNone = 0,
  shotProbe = 1,
  shotProbeOnce = 2,  // probe, then turn automatic probing off for the run
};
inline constexpr std::int64_t kTestModeProbeSeconds = 5;

// The schedule itself. storedInterval is the .original file's value: -1
// never (unless forced), 0 once per run.
ShotStatus ShotTimeStatusFor(bool autoProbe, bool forced, std::int64_t storedInterval, std::int64_t probeLast,
                             std::int64_t now, bool testMode);
// ShotTimeStatusFor on the agent state and the .original file; clears the
// forced-probe request.
ShotStatus GetShotTimeStatus(std::int64_t now);

// What a tick asks of the system. Empty members are skipped.
struct TickActions {
  // The .info refresh another process asked for (notifications included).
  std::function<void()> justFetchInfo;
  // The message boxes take the .original file's font.
  std::function<void()> applyMsgBoxFont;
  std::function<void()> postQuit;
  // Unforced test-mode check.
  std::function<bool()> checkTestMode;
  std::function<std::int64_t()> now;
  // Sets the status to shotNone when the user declines.
  std::function<void(ShotStatus& status)> askCheckNow;
  std::function<void()> performShot;
};
// One tick of the scheduler: the guard against re-entry, the user's probe
// request, the quit countdown, the tick count and the probe when due. The
// guard is released however the tick ends.
void RunAgentTick(const TickActions& actions);

// ---- Texts ----

// s22 + s23 + s24 + the test-mode note, "PROG_NAME" replaced by programName.
// s23 (which speaks of the web) is left out for a drive path or a location
// shorter than two characters.
inline constexpr char kTestModeNote[] = "<P><P><T><B>PLEASE NOTE</B> - You are now running in <B>Test Mode</B>!";
std::string CheckNowQuestion(const std::string& s22, const std::string& s23, const std::string& s24,
                             const std::string& location, bool testMode, const std::string& programName);

// The download question: s11 + (s12 | s13 | s18 | s19) by the installation
// confirmation (option 2) and the forced download notice (option 6).
std::string DownloadQuestion(const std::string& s11, const std::string& s12, const std::string& s13,
                             const std::string& s18, const std::string& s19, bool confirmInstall,
                             bool forcedNotice, const std::string& programName);

// What the user sees after a probe asked for on the user's behalf that found
// nothing due.
enum class ProbeReportKind { none, error, warning };
struct ProbeReport {
  ProbeReportKind kind = ProbeReportKind::none;
  std::string text;
};
struct ProbeReportInput {
  bool due = false;
  bool testMode = false;
  bool connected = true;
  std::string connectionError;  // the system's reason when not connected
  std::string fetchError;       // the .info fetch's error text
  bool developerMode = false;
  int reason = 0;
  std::string reasonText;
  std::string s2;   // no connection
  std::string s21;  // nothing new
};
ProbeReport UserProbeReport(const ProbeReportInput& in);

// "/OriginalInfoFile=" + the quoted .info path, for the setup engine.
std::string OriginalInfoSwitch(const std::string& infoPath);
// The fresh plain agent: its path (quoted when it holds a blank) and the
// switches that make it wait and hand the option overrides on; an unattended
// agent hands " /quiet" on too.
std::string FreshAgentCommand(const std::string& agentDir, const std::string& agentFileName,
                              const std::string& optionsText, bool quiet = false);
// The program to start again after the update, quoted when it holds a blank.
std::string RestartCommand(const std::string& program);
// Only a program the agent itself stopped is started again, and only when
// the .info file (or its override) asks for it.
bool ShouldRestart(bool restartOption, bool wasRunning, bool stillRunning);

#ifdef _WIN32
// The main window's tick in the agent copy.
void AgentTimerTick();
// (due, reason, text) for the probe under way, with the system's size lookup.
AUDecision GetOkToPerformAU(bool fetched);
void AskCheckNow(ShotStatus& status);
void PerformShot();
// True when the setup engine confirmed a successful installation.
bool PerformAutoUpdate();
// Hands over to a fresh plain agent and ends this copy, unless a stop is
// pending.
void ReStartAutoUpdateExe();
#endif

}  // namespace havrek
