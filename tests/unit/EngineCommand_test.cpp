#include "setup/EngineCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace havrek {
namespace {

TEST(EngineCommand, HandshakeNamesCarryTheThreadToken) {
  const std::string token = ThreadTokenFor(4711);
  EXPECT_EQ(token, "_4711");
  EXPECT_EQ(EngineAtomNameFor(token), "AutoUpdateAtomTokenByHavrek_4711");
  EXPECT_EQ(EngineDialogClassFor(token), ".SDialog_Class_Name._4711");
}

TEST(EngineCommand, SplitRunCommand) {
  struct Case {
    const char* run;
    const char* stubArgs;
    const char* file;
    const char* args;
  } cases[] = {
      {"Engine.exe  *  -x", "-a", "Engine.exe", "-a -x"},
      {"Engine.exe*-x", "", "Engine.exe", "-x"},
      {"Engine.exe*", "-a", "Engine.exe", "-a"},
      // Without "*" the stub's arguments go on as they are.
      {"Engine.exe", "-a  -b", "Engine.exe", "-a  -b"},
      {"bin\\Engine.exe*-x*-y", "", "bin\\Engine.exe", "-x*-y"},
      {"", "-a", "", "-a"},
  };
  for (const Case& c : cases) {
    const RunTarget t = SplitRunCommand(c.run, c.stubArgs);
    EXPECT_EQ(t.file, c.file) << c.run;
    EXPECT_EQ(t.args, c.args) << c.run;
  }
}

TEST(EngineCommand, RemoveSwitch) {
  struct Case {
    const char* cmd;
    const char* name;
    const char* expected;
  } cases[] = {
      {"e.exe /SpanCdLvl=2 /x", "/SpanCdLvl=", "e.exe /x"},
      {"e.exe /a /SpanCdLvl=2", "/SpanCdLvl=", "e.exe /a "},
      {"e.exe /spancdlvl=2 /x", "/SpanCdLvl=", "e.exe /spancdlvl=2 /x"},
      {"e.exe /x", "/SpanCdLvl=", "e.exe /x"},
      {"e.exe /SpanDiskFName1=\"Z:\\a b\\s.exe.001\" /OriginExe=\"Z:\\a b\\s.exe\"", "/SpanDiskFName1=",
       "e.exe /OriginExe=\"Z:\\a b\\s.exe\""},
      // A "/" inside the quoted value does not end the switch.
      {"e.exe /SpanDiskFName1=\"Z:/a b/s.exe.001\" /y", "/SpanDiskFName1=", "e.exe /y"},
      // Only the first occurrence.
      {"e.exe /SpanCdLvl=2 /SpanCdLvl=3", "/SpanCdLvl=", "e.exe /SpanCdLvl=3"},
      {"e.exe /x", "", "e.exe /x"},
  };
  for (const Case& c : cases) EXPECT_EQ(RemoveSwitch(c.cmd, c.name), c.expected) << c.cmd;
}

TEST(EngineCommand, QuoteProgramPath) {
  EXPECT_EQ(QuoteProgramPath("C:\\T\\SETUP_1\\e.exe"), "C:\\T\\SETUP_1\\e.exe");
  EXPECT_EQ(QuoteProgramPath("C:\\My Temp\\SETUP_1\\e.exe"), "\"C:\\My Temp\\SETUP_1\\e.exe\"");
  EXPECT_EQ(QuoteProgramPath("\"C:\\My Temp\\e.exe\""), "\"C:\\My Temp\\e.exe\"");
}

EngineCommandInput Input(const std::string& run, const std::string& stubArgs) {
  EngineCommandInput in;
  in.target = "C:\\Temp\\SETUP_9";
  in.runCommand = run;
  in.stubArgs = stubArgs;
  in.threadToken = "_12";
  in.originExe = "D:\\dl\\setup.exe";
  return in;
}

TEST(EngineCommand, EngineCommandLine) {
  struct Case {
    const char* name;
    EngineCommandInput in;
    const char* expected;
  } cases[] = {
      {"stub arguments, then the engine's, then the handshake", Input("Engine.exe * -x", "/hide -a"),
       "C:\\Temp\\SETUP_9\\Engine.exe /hide -a -x /TH_ID=_12 /OriginExe=\"D:\\dl\\setup.exe\""},
      {"no arguments at all", Input("Engine.exe", ""),
       "C:\\Temp\\SETUP_9\\Engine.exe /TH_ID=_12 /OriginExe=\"D:\\dl\\setup.exe\""},
      {"an origin already given is kept, no second one", Input("Engine.exe", "/OriginExe=\"X:\\o.exe\""),
       "C:\\Temp\\SETUP_9\\Engine.exe /OriginExe=\"X:\\o.exe\" /TH_ID=_12"},
      {"the origin test counts case", Input("Engine.exe", "/originexe=x"),
       "C:\\Temp\\SETUP_9\\Engine.exe /originexe=x /TH_ID=_12 /OriginExe=\"D:\\dl\\setup.exe\""},
      {"both span switches go, the origin of the span copy stays",
       Input("Engine.exe*-x",
             "/SpanCdLvl=2 /SpanDiskFName1=\"Z:\\a b\\s.exe.001\" /OriginExe=\"Z:\\a b\\s.exe\""),
       "C:\\Temp\\SETUP_9\\Engine.exe /OriginExe=\"Z:\\a b\\s.exe\" -x /TH_ID=_12"},
      {"a level switch in lower case is not removed", Input("Engine.exe", "/spancdlvl=2"),
       "C:\\Temp\\SETUP_9\\Engine.exe /spancdlvl=2 /TH_ID=_12 /OriginExe=\"D:\\dl\\setup.exe\""},
      {"a folder with a trailing backslash", [] {
         EngineCommandInput in = Input("sub\\Engine.exe", "");
         in.target = "C:\\Temp\\SETUP_9\\";
         in.autoUpdate = true;
         return in;
       }(),
       "C:\\Temp\\SETUP_9\\sub\\Engine.exe /TH_ID=_12 /OriginExe=\"D:\\dl\\setup.exe\" /AutoUpdateProg"},
      {"a blank in the engine's path quotes it", [] {
         EngineCommandInput in = Input("Engine.exe*-x", "");
         in.target = "C:\\Documents and Settings\\u\\Temp\\SETUP_9";
         return in;
       }(),
       "\"C:\\Documents and Settings\\u\\Temp\\SETUP_9\\Engine.exe\" -x /TH_ID=_12 "
       "/OriginExe=\"D:\\dl\\setup.exe\""},
  };
  for (const Case& c : cases) EXPECT_EQ(EngineCommandLine(c.in), c.expected) << c.name;
}

TEST(EngineCommand, SpanCopyCommandLine) {
  EXPECT_EQ(SpanCopyCommandLine("C:\\T\\SETUP_5\\Y_setup.exe", "", "E:\\setup.exe"),
            "C:\\T\\SETUP_5\\Y_setup.exe /SpanCdLvl=2 /SpanDiskFName1=\"E:\\setup.exe.001\" "
            "/OriginExe=\"E:\\setup.exe\"");
  EXPECT_EQ(SpanCopyCommandLine("C:\\My T\\SETUP_5\\Y_s.exe", "/x", "E:\\a b\\s.exe"),
            "\"C:\\My T\\SETUP_5\\Y_s.exe\" /x /SpanCdLvl=2 /SpanDiskFName1=\"E:\\a b\\s.exe.001\" "
            "/OriginExe=\"E:\\a b\\s.exe\"");
}

}  // namespace
}  // namespace havrek
