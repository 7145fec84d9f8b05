#include "agent/UpdateShortcuts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "agent/Settings.h"
#include "util/Utils.h"
#include "MemoryIni.h"

namespace havrek {
namespace {

const std::string kStartMenu = "C:\\Users\\jdoe\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu";
const std::string kStartup = kStartMenu + "\\Programs\\Startup";
const std::string kCommonStartup = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp";

TEST(UpdateShortcuts, PathsResolveOrAreRefused) {
  const struct {
    const char* path;
    const char* resolved;  // "" refused
  } cases[] = {
      {"C:\\a\\b.lnk", "C:\\a\\b.lnk"},
      {"c:/a//b/./c.lnk", "C:\\a\\b\\c.lnk"},
      {"C:\\a\\x\\..\\b.lnk", "C:\\a\\b.lnk"},
      {"C:\\", "C:\\"},
      {"\\\\srv\\share\\dir\\..\\x.lnk", "\\\\srv\\share\\x.lnk"},
      {"C:\\..\\x.lnk", ""},
      {"C:\\a\\..\\..\\x.lnk", ""},
      {"\\\\srv\\share\\..\\x.lnk", ""},
      {"\\\\srv\\..\\x.lnk", ""},
      {"\\\\?\\C:\\a\\x.lnk", ""},
      {"\\\\.\\C:\\a\\x.lnk", ""},
      {"\\\\srv", ""},
      {"C:a\\x.lnk", ""},
      {"\\a\\x.lnk", ""},
      {"a\\x.lnk", ""},
      {"", ""},
      {"C:\\a\\x.lnk:stream", ""},
      {"C:\\a\\x.lnk.", ""},
      {"C:\\a\\x.lnk ", ""},
      {"C:\\a. \\x.lnk", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolvedShortcutPath(c.path), c.resolved) << c.path;
}

TEST(UpdateShortcuts, OnlyALnkBelowAMenuFolderIsRemovable) {
  const std::vector<std::string> folders = {kStartMenu, "", "relative\\Start Menu", kCommonStartup + "\\"};
  const struct {
    std::string link;
    bool removable;
  } cases[] = {
      {kStartup + "\\Tool.lnk", true},
      {kStartMenu + "\\Programs\\Tool\\Check for updates.LNK", true},
      {UpperCase(kStartMenu) + "\\tool.lnk", true},
      {kCommonStartup + "\\Tool.lnk", true},
      {ReplaceAll(kStartup, "\\", "/") + "/Tool.lnk", true},
      // Not a shortcut, wherever it lies.
      {kStartup + "\\thesis.docx", false},
      {kStartup + "\\Tool.lnk.docx", false},
      {kStartup + "\\.lnk", false},
      {kStartup + "\\Tool.exe", false},
      // A shortcut elsewhere, or a path that only starts like a menu folder.
      {"C:\\Users\\jdoe\\Desktop\\Tool.lnk", false},
      {"C:\\Users\\jdoe\\Documents\\thesis.lnk", false},
      {kStartMenu + " Extra\\Tool.lnk", false},
      {kStartMenu + "\\..\\Tool.lnk", false},
      {kStartup + "\\..\\..\\..\\..\\..\\..\\Documents\\Tool.lnk", false},
      {kStartup + "\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\Tool.lnk", false},
      // The menu folder itself is no file inside it.
      {kStartMenu + "\\.lnk\\..", false},
      {"D" + kStartup.substr(1) + "\\Tool.lnk", false},
      {"Tool.lnk", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRemovableShortcut(c.link, folders), c.removable) << c.link;

  // An empty folder (a lookup that failed) never takes in the whole drive.
  EXPECT_FALSE(IsRemovableShortcut("C:\\Tool.lnk", {"", "C:", "\\"}));
  EXPECT_TRUE(IsRemovableShortcut("C:\\Tool.lnk", {"C:\\"}));
}

class RemoveShortcuts : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCommandLine_ = ProcessCommandLine();
    savedExe_ = ExePath(false);
    SetProcessCommandLine("\"C:\\Tool\\X_agent.exe\"", "C:\\Tool\\X_agent.exe");
    test::BindMemoryIni("http://example.test/Tool.info");
  }
  void TearDown() override {
    SetSettingsIni(SettingsIni());
    SetProcessCommandLine(savedCommandLine_, savedExe_);
  }

  static void Set(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value) {
    test::MemoryIniFiles()[{ExeDir(true) + file, section, key}] = value;
  }

  ShortcutActions Actions() {
    ShortcutActions actions;
    actions.menuFolders = [] { return std::vector<std::string>{kStartMenu, kCommonStartup}; };
    actions.isFile = [this](const std::string& path) { return files_.count(ResolvedShortcutPath(path)) > 0; };
    actions.deleteFile = [this](const std::string& path) {
      deleted_.push_back(path);
      return files_.erase(path) > 0;
    };
    return actions;
  }

  std::set<std::string> files_;
  std::vector<std::string> deleted_;
  std::string savedCommandLine_, savedExe_;
};

TEST_F(RemoveShortcuts, EachAskedForShortcutGoesOnlyWhenItIsOne) {
  const std::string startUp = kStartup + "\\Tool.lnk";
  const std::string check = kCommonStartup + "\\Check.lnk";
  const std::string thesis = "C:\\Users\\jdoe\\Documents\\thesis.docx";
  const std::string desktop = "C:\\Users\\jdoe\\Desktop\\Tool.lnk";
  const struct {
    const char* name;
    UpdateShortcuts links;
    const char* removeStartUp;
    const char* removeCheck;
    std::vector<std::string> deleted;
  } cases[] = {
      {"both asked", {startUp, check}, "1", "1", {startUp, check}},
      {"only the start-up one asked", {startUp, check}, "1", "0", {startUp}},
      {"not asked", {startUp, check}, "0", "", {}},
      {"asked with true", {startUp, check}, "true", " 1", {}},
      {"a document named", {thesis, desktop}, "1", "1", {}},
      {"a missing shortcut", {kStartup + "\\Gone.lnk", ""}, "1", "1", {}},
      {"climbing out of the menu", {kStartup + "\\..\\..\\..\\..\\..\\..\\Documents\\thesis.lnk", ""}, "1", "0", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files_ = {startUp, check, thesis, desktop, "C:\\Users\\jdoe\\Documents\\thesis.lnk"};
    deleted_.clear();
    Set("Tool.info", "NewSetup", "RemoveStartUpShortcut", c.removeStartUp);
    Set("Tool.info", "NewSetup", "RemoveCheckForNewUpdateShortcut", c.removeCheck);
    RemoveUpdateShortcuts(c.links, Actions());
    EXPECT_EQ(deleted_, c.deleted);
  }
}

TEST_F(RemoveShortcuts, ThePathsAreTheOnesReadBeforeTheEngineRan) {
  Set("Tool.original", "UnInstall", "StartUpLink", kStartup + "\\Tool.lnk");
  Set("Tool.original", "UnInstall", "CheckforNewUpdateLink", kStartup + "\\Check.lnk");
  const UpdateShortcuts read = ReadUpdateShortcuts();
  EXPECT_EQ(read.startUp, kStartup + "\\Tool.lnk");
  EXPECT_EQ(read.checkForUpdate, kStartup + "\\Check.lnk");
}

}  // namespace
}  // namespace havrek
