#include "environment/ShellDir.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace havrek {
namespace {

// A machine whose shell answers only what is listed and whose disk holds
// only the listed folders.
struct FakeShell {
  std::map<int, std::string> folders, special;
  std::set<std::string> existing;
  std::string windows = "C:\\Windows", system = "C:\\Windows\\system32", owner = "jdoe";
  std::map<std::string, std::string> registry;  // value name -> text

  ShellSources Sources() const {
    return {[this](int id) { return Find(folders, id); },
            [this](int id) { return Find(special, id); },
            [this](const std::string& path) { return existing.count(path) > 0; },
            [this] { return windows; },
            [this] { return system; },
            [this] { return owner; },
            [this](const std::string&, const std::string& name) {
              const auto it = registry.find(name);
              return it == registry.end() ? std::string() : it->second;
            }};
  }
  static std::string Find(const std::map<int, std::string>& m, int id) {
    const auto it = m.find(id);
    return it == m.end() ? std::string() : it->second;
  }
  void Exist(std::initializer_list<std::string> paths) { existing.insert(paths.begin(), paths.end()); }
};

FakeShell ProfileMachine() {
  FakeShell shell;
  shell.folders = {{kFolderPersonal, "C:\\Users\\u1\\Documents"},
                   {kFolderAppData, "C:\\Users\\u1\\AppData\\Roaming"},
                   {kFolderLocalAppData, "C:\\Users\\u1\\AppData\\Local"},
                   {kFolderCommonAppData, "C:\\All Users\\Application Data"},
                   {kFolderCommonDocuments, "C:\\All Users\\Documents"}};
  shell.special = {{kFolderStartMenu, "C:\\Users\\u1\\Start Menu"},
                   {kFolderCommonStartMenu, "C:\\All Users\\Start Menu"},
                   {kFolderPrograms, "C:\\Users\\u1\\Start Menu\\Programs"},
                   {kFolderCommonPrograms, "C:\\All Users\\Start Menu\\Programs"},
                   {kFolderDesktop, "C:\\Users\\u1\\Desktop"},
                   {kFolderCommonDesktop, "C:\\All Users\\Desktop"}};
  for (const auto& [id, path] : shell.folders) shell.existing.insert(path);
  for (const auto& [id, path] : shell.special) shell.existing.insert(path);
  shell.Exist({"C:\\Users\\u1", "C:\\Users", "C:\\All Users", "C:\\Windows", "C:\\Windows\\system32"});
  return shell;
}

using Folder = std::string (*)(const ShellSources&, bool);

TEST(ShellDir, TheShellsExistingAnswersAndTheirParents) {
  const FakeShell shell = ProfileMachine();
  const ShellSources src = shell.Sources();
  struct Case {
    Folder folder;
    std::string expected;
  } cases[] = {
      {&UserDir, "C:\\Users\\u1"},
      {&DocumentsAndSettingsDir, "C:\\Users"},
      {&AllUsersDir, "C:\\All Users"},
      {&UserAppDataDir, "C:\\Users\\u1\\AppData\\Roaming"},
      {&UserLocalAppDataDir, "C:\\Users\\u1\\AppData\\Local"},
      {&AllUsersAppDataDir, "C:\\All Users\\Application Data"},
      {&MyDocumentsDir, "C:\\Users\\u1\\Documents"},
      {&AllUsersDocumentsDir, "C:\\All Users\\Documents"},
      {&UserStartMenuDir, "C:\\Users\\u1\\Start Menu"},
      {&AllUsersStartMenuDir, "C:\\All Users\\Start Menu"},
      {&UserStartProgramMenuDir, "C:\\Users\\u1\\Start Menu\\Programs"},
      {&AllUsersStartProgramMenuDir, "C:\\All Users\\Start Menu\\Programs"},
      {&UserDesktopDir, "C:\\Users\\u1\\Desktop"},
      {&AllUsersDesktopDir, "C:\\All Users\\Desktop"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.folder(src, false), c.expected);
    EXPECT_EQ(c.folder(src, true), c.expected + "\\");
  }
}

TEST(ShellDir, FallbacksWhenTheShellHasNoExistingFolder) {
  struct Case {
    Folder folder;
    std::string withProfile, withoutProfile;
  } cases[] = {
      {&UserDir, "C:\\Windows\\Profiles\\jdoe", "C:\\Windows"},
      {&DocumentsAndSettingsDir, "C:\\Windows\\Profiles\\jdoe", "C:\\Windows"},
      {&AllUsersDir, "C:\\Windows", "C:\\Windows"},
      {&UserAppDataDir, "C:\\Windows\\Profiles\\jdoe\\Application Data", "C:\\Windows\\Application Data"},
      {&UserLocalAppDataDir, "C:\\Windows\\Profiles\\jdoe\\Application Data", "C:\\Windows\\Application Data"},
      {&AllUsersAppDataDir, "C:\\Windows\\Application Data", "C:\\Windows\\Application Data"},
      {&MyDocumentsDir, "C:\\Windows\\Profiles\\jdoe\\My Documents", "C:\\Windows\\My Documents"},
      {&AllUsersDocumentsDir, "C:\\Windows\\Documents", "C:\\Windows\\Documents"},
      {&UserStartMenuDir, "C:\\Windows\\Start Menu", "C:\\Windows\\Start Menu"},
      {&AllUsersStartMenuDir, "C:\\Windows\\Start Menu", "C:\\Windows\\Start Menu"},
      {&UserStartProgramMenuDir, "C:\\Windows\\Start Menu\\Programs", "C:\\Windows\\Start Menu\\Programs"},
      {&AllUsersStartProgramMenuDir, "C:\\Windows\\Start Menu\\Programs", "C:\\Windows\\Start Menu\\Programs"},
      {&UserDesktopDir, "C:\\Windows\\Desktop", "C:\\Windows\\Desktop"},
      {&AllUsersDesktopDir, "C:\\Windows\\Desktop", "C:\\Windows\\Desktop"},
  };
  // No shell folder library at all; then one that names folders that are gone.
  FakeShell missing;
  missing.Exist({"C:\\Windows"});
  FakeShell gone = missing;
  for (int id : {kFolderPersonal, kFolderAppData, kFolderLocalAppData, kFolderCommonAppData, kFolderCommonDocuments})
    gone.folders[id] = "X:\\gone";
  for (int id : {kFolderStartMenu, kFolderCommonStartMenu, kFolderPrograms, kFolderCommonPrograms, kFolderDesktop,
                 kFolderCommonDesktop})
    gone.special[id] = "X:\\gone";
  for (FakeShell* shell : {&missing, &gone}) {
    for (const auto& c : cases) EXPECT_EQ(c.folder(shell->Sources(), false), c.withoutProfile);
    shell->Exist({"C:\\Windows\\Profiles\\jdoe"});
    for (const auto& c : cases) EXPECT_EQ(c.folder(shell->Sources(), false), c.withProfile);
  }
}

TEST(ShellDir, MenusTryTheUsersFolderBeforeAllUsers) {
  FakeShell shell = ProfileMachine();
  for (const auto& [id, path] : shell.special) shell.existing.erase(path);
  shell.special.clear();
  const ShellSources src = shell.Sources();
  EXPECT_EQ(UserStartMenuDir(src, false), "C:\\All Users\\Start Menu");  // last fallback, unchecked
  EXPECT_EQ(UserDesktopDir(src, false), "C:\\All Users\\Desktop");
  shell.Exist({"C:\\Users\\u1\\Start Menu", "C:\\Users\\u1\\Start Menu\\Programs", "C:\\Users\\u1\\Desktop"});
  EXPECT_EQ(UserStartMenuDir(src, false), "C:\\Users\\u1\\Start Menu");
  EXPECT_EQ(UserStartProgramMenuDir(src, false), "C:\\Users\\u1\\Start Menu\\Programs");
  EXPECT_EQ(UserDesktopDir(src, false), "C:\\Users\\u1\\Desktop");
}

TEST(ShellDir, System16AndFontFolders) {
  FakeShell shell;
  const ShellSources src = shell.Sources();
  EXPECT_EQ(System16Dir(src, false), "C:\\Windows\\system32");
  shell.Exist({"C:\\Windows\\System"});
  EXPECT_EQ(System16Dir(src, false), "C:\\Windows\\System");
  shell.Exist({"C:\\Windows\\system"});
  EXPECT_EQ(System16Dir(src, false), "C:\\Windows\\system");
  EXPECT_EQ(System16Dir(src, true), "C:\\Windows\\system\\");
  shell.system = "C:\\W32\\system32";  // only the last "32" goes
  shell.Exist({"C:\\W32\\system"});
  EXPECT_EQ(System16Dir(src, false), "C:\\W32\\system");

  EXPECT_EQ(FontFolder(src, false), "C:\\Windows\\Fonts");
  shell.registry["Fonts"] = "D:\\MyFonts";
  EXPECT_EQ(FontFolder(src, false), "C:\\Windows\\Fonts");
  shell.Exist({"D:\\MyFonts"});
  EXPECT_EQ(FontFolder(src, true), "D:\\MyFonts\\");
}

TEST(ShellDir, RegistryFoldersAndTheTrailingFlag) {
  FakeShell shell;
  shell.registry = {{"Start Menu", "C:\\Menu\\"}, {"ProgramFilesDir", "C:\\Program Files"}, {"CommonFilesDir", "C:\\"}};
  const ShellSources src = shell.Sources();
  EXPECT_EQ(StartMenuFolder(src, false), "C:\\Menu");
  EXPECT_EQ(StartMenuFolder(src, true), "C:\\Menu\\");
  EXPECT_EQ(ProgramFilesFolder(src, true), "C:\\Program Files\\");
  EXPECT_EQ(CommonFilesFolder(src, false), "C:");
  EXPECT_EQ(CommonFilesFolder(src, true), "C:\\");

  // An unknown folder stays empty rather than becoming the drive's root.
  shell.registry.clear();
  for (Folder folder : {&StartMenuFolder, &ProgramFilesFolder, &CommonFilesFolder}) EXPECT_EQ(folder(src, true), "");
}

}  // namespace
}  // namespace havrek
