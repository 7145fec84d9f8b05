#include "agent/ProcessWin.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "agent/Settings.h"
#include "diag/HDebug.h"
#include "diag/HDebugWin.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"
#include "BuildTree.h"
#include "DebugCapture.h"

namespace havrek {
namespace {

using test::FixturePath;

std::string Program() { return FixturePath("installed_program.exe"); }
std::string ProgramName() { return FileNamePart(Program()); }

std::string ShortForm(const std::string& path) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// One run of the installed-program fixture, ended at the latest when the
// test is over (with every process it started).
class StandIn {
 public:
  explicit StandIn(const std::string& options, DWORD flags = 0, SECURITY_ATTRIBUTES* security = nullptr)
      : report_(TempDir(true) + "havrek_installed_program_" + std::to_string(++runs_) + ".txt") {
    DeleteFileA(report_.c_str());
    std::string commandLine = "\"" + Program() + "\" \"" + report_ + "\" " + options;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, commandLine.data(), security, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi)) {
      process_.reset(pi.hProcess);
      thread_.reset(pi.hThread);
      pid_ = pi.dwProcessId;
    }
  }
  ~StandIn() {
    for (const DWORD pid : Pids()) {
      const KernelHandle p(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
      if (p && WaitForSingleObject(p.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(p.get(), 1);
        WaitForSingleObject(p.get(), 5000);
      }
    }
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), 5000);
    }
    DeleteFileA(report_.c_str());
  }

  DWORD pid() const { return pid_; }
  HANDLE process() const { return process_.get(); }
  HANDLE thread() const { return thread_.get(); }

  // Waits until count processes have their windows up.
  bool Ready(int count = 1) const {
    for (int i = 0; i < 400; ++i) {
      if (static_cast<int>(LinesWith("ready").size()) >= count) return true;
      Sleep(50);
    }
    return false;
  }
  // The pids of every line that ends with what, in report order.
  std::vector<DWORD> LinesWith(const std::string& what) const {
    std::vector<DWORD> pids;
    std::istringstream lines(ReadAll(report_));
    for (std::string line; std::getline(lines, line);) {
      const std::size_t blank = line.find(' ');
      if (blank != std::string::npos && line.substr(blank + 1) == what)
        pids.push_back(static_cast<DWORD>(std::stoul(line.substr(0, blank))));
    }
    return pids;
  }
  // What the process with this id recorded, one line each, without its id.
  std::string Received(DWORD pid) const {
    std::string text;
    const std::string prefix = std::to_string(pid) + " ";
    std::istringstream lines(ReadAll(report_));
    for (std::string line; std::getline(lines, line);)
      if (line.compare(0, prefix.size(), prefix) == 0) text += line.substr(prefix.size()) + "\n";
    return text;
  }
  std::vector<DWORD> Pids() const { return LinesWith("ready"); }
  bool Ended(DWORD ms) const { return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  static inline int runs_ = 0;
  std::string report_;
  KernelHandle process_;
  KernelHandle thread_;
  DWORD pid_ = 0;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ProcessFind, MatchesFullPathFileNameAndShortForm) {
  StandIn program("");
  ASSERT_TRUE(program.Ready());
  ASSERT_FALSE(ShortForm(Program()).empty());
  const struct {
    const char* name;
    std::string target;
    bool fullPathOnly;
    bool found;
  } cases[] = {
      {"full path", Program(), true, true},
      {"full path, other case, blanks", "  " + UpperCase(Program()) + " ", true, true},
      {"short form", ShortForm(Program()), true, true},
      {"file name", ProgramName(), false, true},
      {"file name, full path only", ProgramName(), true, false},
      {"file name, other case", UpperCase(ProgramName()), false, true},
      {"same name elsewhere", "Z:\\nowhere\\" + ProgramName(), true, false},
      {"same name elsewhere, file names too", "Z:\\nowhere\\" + ProgramName(), false, false},
      {"quoted", "\"" + Program() + "\"", true, false},
      {"other program", "missing_program.exe", false, false},
  };
  for (const auto& c : cases) {
    const DWORD expected = c.found ? program.pid() : 0;
    EXPECT_EQ(FindProcessId(c.target, c.fullPathOnly), expected) << c.name;
    EXPECT_EQ(FindProcessId(c.target, c.fullPathOnly, ProcessSource::psapi), expected) << c.name;
  }
  // The list of the other platforms holds only file names on this one.
  EXPECT_EQ(FindProcessId(ProgramName(), false, ProcessSource::toolHelp), program.pid());
  EXPECT_EQ(FindProcessId(ProgramName(), true, ProcessSource::toolHelp), 0u);
  EXPECT_EQ(FindProcessId("missing_program.exe", false, ProcessSource::toolHelp), 0u);

  // The running test uses its target as given; the two below trim and unquote.
  EXPECT_TRUE(IsProcessRunning("  \"" + Program() + "\" "));
  EXPECT_TRUE(IsProcessRunning(ProgramName()));
  EXPECT_FALSE(IsProcessRunning("missing_program.exe"));
}

// The system's own order of the processes that run the fixture.
std::vector<DWORD> PsapiOrder(const std::vector<DWORD>& among) {
  std::vector<DWORD> ids(4096);
  DWORD bytes = 0;
  std::vector<DWORD> order;
  if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return order;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i)
    for (const DWORD pid : among)
      if (ids[i] == pid) order.push_back(pid);
  return order;
}

std::vector<DWORD> ToolHelpOrder(const std::vector<DWORD>& among) {
  std::vector<DWORD> order;
  const KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = snapshot && Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry))
    for (const DWORD pid : among)
      if (entry.th32ProcessID == pid) order.push_back(pid);
  return order;
}

TEST(ProcessFind, OfTwoProcessesTheLastListedIsStopped) {
  StandIn program("-twice");
  ASSERT_TRUE(program.Ready(2));
  const std::vector<DWORD> pids = program.Pids();
  ASSERT_EQ(pids.size(), 2u);
  const std::vector<DWORD> listed = PsapiOrder(pids);
  ASSERT_EQ(listed.size(), 2u);
  const std::vector<DWORD> walked = ToolHelpOrder(pids);
  ASSERT_EQ(walked.size(), 2u);

  EXPECT_EQ(FindProcessId(Program(), true), listed.back());
  EXPECT_EQ(FindProcessId(ProgramName(), false, ProcessSource::toolHelp), walked.back());

  ASSERT_TRUE(CloseProcessWindow(Program(), true));
  const KernelHandle last(OpenProcess(SYNCHRONIZE, FALSE, listed.back()));
  ASSERT_TRUE(last);
  EXPECT_EQ(WaitForSingleObject(last.get(), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(program.Received(listed.back()), "ready\nWM_CLOSE 15 255\nend exit=7\n");
  EXPECT_FALSE(Contains(program.Received(listed.front()), "WM_CLOSE"));
  EXPECT_EQ(FindProcessId(Program(), true), listed.front());
}

TEST(ProcessWindow, MainWindowOwningTwoDialogsScoresEleven) {
  StandIn program("");
  ASSERT_TRUE(program.Ready());
  const HWND main = FindWindowA("HavrekInstalledProgram", nullptr);
  ASSERT_TRUE(main);

  TAnalizer analizer(program.pid());
  analizer.Clear();
  analizer.Collect();
  analizer.Score();
  int dialogs = 0;
  bool sawMain = false;
  for (std::size_t i = 0; i < analizer.Count(); ++i) {
    char cls[64] = {};
    GetClassNameA(analizer.Window(i), cls, sizeof cls);
    if (analizer.Window(i) == main) {
      sawMain = true;
      EXPECT_EQ(analizer.ScoreOf(i), 11);
    } else if (std::string(cls) == "HavrekInstalledDialog") {
      ++dialogs;
      EXPECT_EQ(analizer.ScoreOf(i), 3);
    }
  }
  EXPECT_TRUE(sawMain);
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(analizer.Best(), main);
  EXPECT_EQ(FindProcessWindow(Program(), true), main);

  TAnalizer nobody(0x7ffffff0);
  nobody.Collect();
  nobody.Score();
  EXPECT_EQ(nobody.Count(), 0u);
  EXPECT_EQ(nobody.Best(), nullptr);
}

TEST(ProcessWindow, FileNameNeverReachesFullPathOperations) {
  StandIn program("");
  ASSERT_TRUE(program.Ready());
  EXPECT_EQ(FindProcessId(ProgramName(), true), 0u);
  EXPECT_EQ(FindProcessWindow(ProgramName(), true), nullptr);
  EXPECT_FALSE(CloseProcessWindow(ProgramName(), true));
  EXPECT_FALSE(QuitProcessWindow(ProgramName(), true));
  EXPECT_FALSE(KillProcess(ProgramName(), true));
  EXPECT_FALSE(program.Ended(1000));
  EXPECT_EQ(program.Received(program.pid()), "ready\n");
  EXPECT_TRUE(IsProcessRunning(ProgramName()));
}

TEST(ProcessWindow, PostsToTheMainWindow) {
  StandIn program("-ignoreclose");
  ASSERT_TRUE(program.Ready());
  EXPECT_TRUE(PostProcessMessage(Program(), true, WM_CLOSE, 1, 2));
  for (int i = 0; i < 100 && !Contains(program.Received(program.pid()), "WM_CLOSE"); ++i) Sleep(50);
  EXPECT_EQ(program.Received(program.pid()), "ready\nWM_CLOSE 1 2\n");
  EXPECT_FALSE(PostProcessMessage("Z:\\nowhere\\" + ProgramName(), true, WM_CLOSE, 1, 2));
}

using test::DebugCapture;

// The agent's log file, switched on for one test.
class LogCapture {
 public:
  LogCapture() {
    InitProcessCommandLine();
    DeleteFileA(LogFilePath().c_str());
    SetLogEnabled(true);
  }
  ~LogCapture() {
    SetLogEnabled(false);
    DeleteFileA(LogFilePath().c_str());
  }
  std::string text() const { return ReadAll(LogFilePath()); }
};

struct ShutDownCase {
  const char* method;
  const char* options;
  const char* received;  // all the program recorded after "ready"
  DWORD exitCode;        // STILL_ACTIVE: still running when the call returns
  bool putOff;
};

TEST(ShutDown, Methods) {
  const ShutDownCase cases[] = {
      {"Using WM_CLOSE", "", "WM_CLOSE 15 255\nend exit=7\n", 7, false},
      {"Using WM_QUIT", "", "WM_QUIT 15 255\nend exit=7\n", 7, false},
      {"Using Terminate Process", "-ignoreclose -ignorequit", "", 0, false},
      {"Don't Shut Down", "", "", STILL_ACTIVE, false},
      // Nothing is sent for other texts, and nothing waits for an end that
      // only someone else could bring: the update is put off.
      {"Using WM_Close", "", "", STILL_ACTIVE, true},
      {"", "", "", STILL_ACTIVE, true},
      {"Using WM_CLOSE", "-ignoreclose -life=2500 -exit=9", "WM_CLOSE 15 255\nlife over\nend exit=9\n", 9, false},
  };
  for (const ShutDownCase& c : cases) {
    SCOPED_TRACE(std::string("method \"") + c.method + "\" " + c.options);
    StandIn program(c.options);
    ASSERT_TRUE(program.Ready());
    const DebugCapture debug;
    const LogCapture log;
    const ShutDownResult result = ShutDownProcess(Program(), c.method);
    EXPECT_TRUE(result.wasRunning);
    const bool running = c.exitCode == STILL_ACTIVE;
    EXPECT_EQ(result.stillRunning, running);
    EXPECT_EQ(result.putOff, c.putOff);
    EXPECT_EQ(program.Ended(0), !running);
    EXPECT_EQ(program.ExitCode(), c.exitCode);
    EXPECT_EQ(program.Received(program.pid()), std::string("ready\n") + c.received);
    const bool unknown = ShutDownMethodOf(c.method) == ShutDownMethod::none;
    EXPECT_EQ(Contains(log.text(), UnknownMethodLine(c.method) + "\r\n"), unknown) << log.text();
    EXPECT_EQ(Contains(log.text(), PutOffLine(Program()) + "\r\n"), c.putOff) << log.text();

    const std::string marker = PidText() + " ==== PerformAutoUpdate-";
    const std::size_t eight = debug.text().find(marker + "8 ====\r\n");
    EXPECT_NE(eight, std::string::npos) << debug.text();
    EXPECT_NE(debug.text().find(marker + "9 ====\r\n", eight), std::string::npos) << debug.text();
    const std::string kill = "PID=" + std::to_string(program.pid()) + "\t   Exists=TRUE\t  >" + Program() + "<\r\n";
    EXPECT_EQ(Contains(debug.text(), kill), std::string(c.method) == "Using Terminate Process") << debug.text();
    const std::size_t start =
        log.text().find("Shut Down Process() - START  (" + Program() + ")  Method: " + c.method + "\r\n");
    EXPECT_NE(start, std::string::npos) << log.text();
    EXPECT_NE(log.text().find("Shut Down Process() - END\r\n", start), std::string::npos) << log.text();
  }
}

std::string SettingsText(const std::string&, const std::string&, const std::string& key, const std::string& def) {
  if (key == "s15") return "Please close PROG_NAME first.";
  if (key == "Attention") return "Heads up";
  return def;
}

struct SeenBox {
  HANDLE program = nullptr;
  std::string caption;
  std::string text;
  int shown = 0;
};
SeenBox g_seen;

// Plays the user: reads the box, ends the program as asked, then closes the
// box. Posted messages come before timers, so the box is gone before the
// next tick.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR, DWORD) {
  const HWND box = FindWindowA(kMsgBoxClass, nullptr);
  if (!box || GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId()) return;
  ++g_seen.shown;
  char caption[256] = {};
  GetWindowTextA(box, caption, sizeof caption);
  g_seen.caption = caption;
  if (const HWND edit = FindWindowExA(box, nullptr, "RICHEDIT", nullptr)) {
    char text[1024] = {};
    GetWindowTextA(edit, text, sizeof text);
    g_seen.text = text;
  }
  TerminateProcess(g_seen.program, 5);
  WaitForSingleObject(g_seen.program, 5000);
  PostMessageA(box, WM_CLOSE, 0, 0);
}

TEST(ShutDown, MessageBoxAsksUntilTheProgramIsGone) {
  SettingsIni ini;
  ini.read = SettingsText;
  SetSettingsIni(ini);
  StandIn program("");
  ASSERT_TRUE(program.Ready());
  g_seen = SeenBox();
  g_seen.program = program.process();
  const DebugCapture debug;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerBox);
  const ShutDownResult result = ShutDownProcess(Program(), "Issue a Message Box");
  KillTimer(nullptr, timer);
  SetSettingsIni(SettingsIni());

  EXPECT_TRUE(result.wasRunning);
  EXPECT_FALSE(result.stillRunning);
  EXPECT_EQ(g_seen.shown, 1);
  EXPECT_EQ(g_seen.caption, "Heads up");
  EXPECT_TRUE(Contains(g_seen.text, "Please close " + ProgramName() + " first.")) << g_seen.text;
  EXPECT_EQ(program.ExitCode(), 5u);
  EXPECT_TRUE(Contains(debug.text(), "s1=Please close " + ProgramName() + " first.<\r\n")) << debug.text();
}

// Processor time of this process so far, in ms.
std::int64_t OwnProcessorMs() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000);
  };
  return ms(kernel) + ms(user);
}

// Nobody is there to close the program: every box would be answered at once,
// so the call waits (quietly) up to its bound and puts the update off; a
// program that ends meanwhile lets the update go on. Nothing is killed.
TEST(ShutDown, UnattendedMessageBoxWaitsUpToItsBound) {
  SettingsIni ini;
  ini.read = SettingsText;
  SetSettingsIni(ini);
  const struct {
    const char* options;
    bool endsMeanwhile;
  } cases[] = {
      {"-life=20000", false},
      {"-life=1500 -exit=9", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    StandIn program(c.options);
    ASSERT_TRUE(program.Ready());
    const DebugCapture debug;
    const LogCapture log;
    SetUnattended(true);
    const std::int64_t start = TickMs();
    const std::int64_t cpuBefore = OwnProcessorMs();
    const ShutDownResult result = ShutDownProcess(Program(), "Issue a Message Box", 4000);
    const std::int64_t cpu = OwnProcessorMs() - cpuBefore;
    const std::int64_t elapsed = TickMs() - start;
    SetUnattended(false);

    EXPECT_TRUE(result.wasRunning);
    EXPECT_EQ(result.stillRunning, !c.endsMeanwhile);
    EXPECT_EQ(result.putOff, !c.endsMeanwhile);
    EXPECT_EQ(program.Ended(0), c.endsMeanwhile);
    EXPECT_EQ(program.ExitCode(), c.endsMeanwhile ? 9u : STILL_ACTIVE);
    if (!c.endsMeanwhile) {
      EXPECT_GE(elapsed, 4000);
      EXPECT_LT(elapsed, 15000);
    }
    // A loop of boxes answered at once keeps a processor busy.
    EXPECT_LT(cpu * 20, elapsed) << cpu << " ms of processor in " << elapsed << " ms";
    std::printf("unattended wait: %lld ms of processor in %lld ms\n", static_cast<long long>(cpu),
                static_cast<long long>(elapsed));
    EXPECT_FALSE(Contains(debug.text(), "Heads up")) << "a box was answered: " << debug.text();
    EXPECT_TRUE(Contains(log.text(), UnattendedWaitLine(Program(), 4000) + "\r\n")) << log.text();
    EXPECT_EQ(Contains(log.text(), PutOffLine(Program()) + "\r\n"), !c.endsMeanwhile) << log.text();
  }
  SetSettingsIni(SettingsIni());
}

TEST(ShutDown, NothingRunning) {
  // An unknown method puts off only a program that runs.
  for (const char* method : {"Using WM_CLOSE", "Using WM_Close", "Issue a Message Box"}) {
    SetUnattended(std::string(method) == "Issue a Message Box");
    const ShutDownResult result = ShutDownProcess("Z:\\nowhere\\" + ProgramName(), method);
    SetUnattended(false);
    EXPECT_FALSE(result.wasRunning) << method;
    EXPECT_FALSE(result.stillRunning) << method;
    EXPECT_FALSE(result.putOff) << method;
  }
}

// The value the next new handle gets. Freed handle slots are used again
// first, so a search that leaves a handle open moves it.
HANDLE NextHandle() {
  const KernelHandle probe(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  return probe.get();
}

// A long-running agent searches again and again: no search may leave a
// handle behind, whether the process matched, did not, or could not be read.
TEST(ProcessFind, LeavesNoHandleOpen) {
  StandIn running("");
  ASSERT_TRUE(running.Ready());
  // Not yet started: its modules cannot be read, only its image name.
  StandIn suspended("", CREATE_SUSPENDED);
  ASSERT_TRUE(suspended.process());

  const auto searches = [] {
    FindProcessId(Program(), true);
    FindProcessId("missing_program.exe", false);
    FindProcessId(ProgramName(), false, ProcessSource::toolHelp);
    IsProcessRunning(ProgramName());
    FindProcessWindow(Program(), true);
    KillProcess("Z:\\nowhere\\" + ProgramName(), true);
  };
  searches();  // libraries and caches of the first call are not leaks
  const HANDLE before = NextHandle();
  for (int i = 0; i < 20; ++i) {
    searches();
    ASSERT_EQ(NextHandle(), before) << "after round " << i;
  }
  const DWORD found = FindProcessId(Program(), true);
  EXPECT_TRUE(found == running.pid() || found == suspended.pid()) << found;
}

// Everyone may query (fully, or only the limited query of a protected or
// elevated program), wait for and terminate this program, nothing more: what
// an agent meets in another user's program.
TEST(ProcessFind, NeedsNoMoreThanQueryAndTerminateRights) {
  for (const char* rights : {"D:(A;;0x101411;;;WD)", "D:(A;;0x101001;;;WD)"}) {
    SCOPED_TRACE(rights);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA(rights, SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    StandIn program("", 0, &security);
    LocalFree(descriptor);
    ASSERT_TRUE(program.Ready());
    const KernelHandle all(OpenProcess(PROCESS_ALL_ACCESS, FALSE, program.pid()));
    if (all) GTEST_SKIP() << "this system grants every right regardless of the program's security";

    EXPECT_EQ(FindProcessId(Program(), true), program.pid());
    EXPECT_TRUE(KillProcess(Program(), true));
    EXPECT_TRUE(program.Ended(10000));
    EXPECT_EQ(program.ExitCode(), 0u);
  }
}

TEST(WaitProcessGone, ReturnsWhenTheProcessEnds) {
  StandIn program("-life=2000");
  ASSERT_TRUE(program.Ready());
  WaitProcessGone("  \"" + Program() + "\"", 0);
  EXPECT_TRUE(program.Ended(0));
  EXPECT_EQ(program.ExitCode(), 7u);
}

TEST(WaitProcessGone, GivesUpAfterTheTimeOut) {
  StandIn program("");
  ASSERT_TRUE(program.Ready());
  WaitProcessGone(Program(), 1500);
  EXPECT_FALSE(program.Ended(0));
  WaitProcessGone("Z:\\nowhere\\" + ProgramName(), 0);
}

}  // namespace
}  // namespace havrek
