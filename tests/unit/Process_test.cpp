#include "agent/Process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace havrek {
namespace {

const ProcessNames kEditor{"C:\\Program Files\\Tool\\Editor.exe", "Editor.exe", "C:\\PROGRA~1\\Tool\\Editor.exe"};

struct MatchCase {
  const char* name;
  ProcessNames process;
  std::string target;
  std::string targetShort;
  bool fullPathOnly;
  bool matches;
};

TEST(ProcessMatch, Table) {
  const MatchCase cases[] = {
      {"full path", kEditor, "C:\\Program Files\\Tool\\Editor.exe", "", true, true},
      {"full path, case and blanks", kEditor, "  c:\\program files\\TOOL\\editor.EXE ", "", true, true},
      {"file name", kEditor, "editor.exe", "", false, true},
      {"file name, full path only", kEditor, "Editor.exe", "", true, false},
      {"short form", kEditor, "C:\\Progra~1\\Tool\\Editor.exe", "c:\\progra~1\\tool\\editor.exe", true, true},
      {"other file", kEditor, "C:\\Program Files\\Tool\\Other.exe", "", false, false},
      // A target without a short form must not meet a process that has none.
      {"neither has a short form", {"C:\\A\\x.exe", "x.exe", ""}, "D:\\x.exe", "", true, false},
      {"blank target short form", {"C:\\A\\x.exe", "x.exe", ""}, "D:\\x.exe", "  ", true, false},
      {"unreadable process, empty target", {"", "", ""}, "", "", false, false},
      {"quotes are not stripped here", kEditor, "\"C:\\Program Files\\Tool\\Editor.exe\"", "", true, false},
  };
  for (const MatchCase& c : cases)
    EXPECT_EQ(ProcessMatches(c.process, c.target, c.targetShort, c.fullPathOnly), c.matches) << c.name;
}

TEST(ProcessMatch, LastListedWins) {
  const std::vector<ProcessNames> list = {
      {"C:\\A\\Tool.exe", "Tool.exe", ""},
      {"C:\\B\\Tool.exe", "Tool.exe", ""},
      {"C:\\A\\Tool.exe", "Tool.exe", ""},
      {"C:\\A\\Other.exe", "Other.exe", ""},
  };
  EXPECT_EQ(LastMatchIndex(list, "C:\\A\\Tool.exe", "", true), 2);
  EXPECT_EQ(LastMatchIndex(list, "Tool.exe", "", false), 2);
  EXPECT_EQ(LastMatchIndex(list, "C:\\B\\Tool.exe", "", true), 1);
  EXPECT_EQ(LastMatchIndex(list, "Tool.exe", "", true), -1);
  EXPECT_EQ(LastMatchIndex({}, "Tool.exe", "", false), -1);
}

struct ScoreCase {
  const char* name;
  std::vector<WindowFacts> windows;
  std::vector<std::uint16_t> scores;
  std::ptrdiff_t best;
};

TEST(WindowScore, Table) {
  const ScoreCase cases[] = {
      {"main window owning two dialogs",
       {{1, 0, true, true}, {2, 1, true, true}, {3, 1, true, true}},
       {11, 3, 3},
       0},
      // Owned windows count for the root of their chain, not their direct owner.
      {"chain counts for its root",
       {{5, 1, true, true}, {1, 0, false, false}, {7, 1, false, false}},
       {3, 8, 0},
       1},
      {"owner outside the list adds to nobody",
       {{2, 99, true, false}, {3, 99, false, true}},
       {2, 1},
       0},
      {"equal scores: the first listed wins",
       {{4, 0, true, false}, {6, 0, true, false}},
       {2, 2},
       0},
      {"hidden and captionless only: nothing chosen",
       {{4, 0, false, false}, {5, 0, false, false}},
       {0, 0},
       -1},
      {"no windows", {}, {}, -1},
  };
  for (const ScoreCase& c : cases) {
    const std::vector<std::uint16_t> scores = ScoreWindows(c.windows);
    EXPECT_EQ(scores, c.scores) << c.name;
    EXPECT_EQ(BestWindowIndex(scores), c.best) << c.name;
  }
}

TEST(WindowScore, FullListStaysWithinSixteenBits) {
  std::vector<WindowFacts> windows(kMaxAnalizerWindows);
  windows[0] = {1, 0, true, true};
  for (std::size_t i = 1; i < windows.size(); ++i) windows[i] = {i + 1, 1, false, false};
  const std::vector<std::uint16_t> scores = ScoreWindows(windows);
  EXPECT_EQ(scores[0], 4 * 2000 + 3);
  EXPECT_EQ(BestWindowIndex(scores), 0);
}

TEST(ShutDownMethods, ComparedExactly) {
  const struct {
    const char* text;
    ShutDownMethod method;
    bool waits;
    bool putsOffARunningProgram;
  } cases[] = {
      {"Issue a Message Box", ShutDownMethod::messageBox, true, true},
      {"Using WM_CLOSE", ShutDownMethod::close, true, true},
      {"Using WM_QUIT", ShutDownMethod::quit, true, true},
      {"Using Terminate Process", ShutDownMethod::terminate, true, true},
      // Installs over the running program on purpose.
      {"Don't Shut Down", ShutDownMethod::dontShutDown, false, false},
      // Nothing is sent: a wait would last until someone ends the program.
      {"Using WM_Close", ShutDownMethod::none, false, true},
      {"don't shut down", ShutDownMethod::none, false, true},
      {" Using WM_QUIT", ShutDownMethod::none, false, true},
      {"", ShutDownMethod::none, false, true},
  };
  for (const auto& c : cases) {
    const ShutDownMethod method = ShutDownMethodOf(c.text);
    EXPECT_EQ(method, c.method) << c.text;
    EXPECT_EQ(ShutDownWaits(method), c.waits) << c.text;
    EXPECT_EQ(ShutDownPutsOff(method, true), c.putsOffARunningProgram) << c.text;
    EXPECT_FALSE(ShutDownPutsOff(method, false)) << c.text;
  }
}

TEST(ShutDownTexts, Lines) {
  EXPECT_EQ(CloseRequestText("Please close PROG_NAME, then PROG_NAME again.", "C:\\Tool\\Editor.exe"),
            "Please close Editor.exe, then Editor.exe again.");
  EXPECT_EQ(CloseRequestText("Close prog_name", "C:\\Tool\\Editor.exe"), "Close prog_name");
  EXPECT_EQ(ShutDownStartLine("C:\\Tool\\Editor.exe", "Using WM_CLOSE"),
            "Shut Down Process() - START  (C:\\Tool\\Editor.exe)  Method: Using WM_CLOSE");
  EXPECT_EQ(KillProcessLine(1234, true, "C:\\Tool\\Editor.exe"),
            "PID=1234\t   Exists=TRUE\t  >C:\\Tool\\Editor.exe<");
  EXPECT_EQ(KillProcessLine(0, false, ""), "PID=0\t   Exists=FALSE\t  ><");
  EXPECT_EQ(UnknownMethodLine("Using WM_Close"),
            "Shut Down Process() - unknown method \"Using WM_Close\": nothing is sent");
  EXPECT_EQ(UnattendedWaitLine("C:\\Tool\\Editor.exe", 15000),
            "Shut Down Process() - unattended: waiting up to 15 s for C:\\Tool\\Editor.exe to end");
  EXPECT_EQ(NotReachedLine("C:\\Tool\\Editor.exe", "Using WM_CLOSE"),
            "Shut Down Process() - Using WM_CLOSE did not reach C:\\Tool\\Editor.exe");
  EXPECT_EQ(PutOffLine("C:\\Tool\\Editor.exe"),
            "Shut Down Process() - C:\\Tool\\Editor.exe still runs: the update is put off");
}

}  // namespace
}  // namespace havrek
