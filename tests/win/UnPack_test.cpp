#include "package/UnPack.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SignatureCases.h"
#include "files/Files.h"
#include "package/PackWriter.h"
#include "package/Signature.h"
#include "platform/Platform.h"

namespace havrek {
namespace {

bool PutFile(const std::string& path, const std::string& bytes) {
  const plat::File f(path, plat::OpenMode::Create);
  return f && f.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::string GetFile(const std::string& path) {
  std::string bytes = ReadFileText(path);
  return bytes;
}

// The last-write date as Explorer shows it, in the packed DOS form.
std::uint32_t LocalDosDate(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a{};
  FILETIME local;
  WORD date = 0, time = 0;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a) ||
      !::FileTimeToLocalFileTime(&a.ftLastWriteTime, &local) || !::FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return (static_cast<std::uint32_t>(date) << 16) | time;
}

class UnPackWin : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "havrek_unpackwin_" + std::to_string(::GetCurrentProcessId());
    DeleteTree(dir_, true);
    ASSERT_TRUE(plat::MakeDirs(dir_ + "\\src"));
    SetSaveErrorCount(0);
  }
  void TearDown() override { DeleteTree(dir_, true); }

  PackFile Source(const std::string& name, const std::string& bytes, const std::string& target, bool run = false) {
    EXPECT_TRUE(PutFile(dir_ + "\\src\\" + name, bytes));
    PackFile f;
    f.source = dir_ + "\\src\\" + name;
    f.target = target;
    f.run = run;
    return f;
  }

  // setup.exe holding files, all dated date.
  PackOptions WriteSetup(std::vector<PackFile> files, std::uint32_t date, const std::string& updateKeys = {}) {
    std::string stub(2048, '\0');
    stub.replace(0, 2, "MZ");
    stub.replace(256, 4, std::string("PE\0\0", 4));
    EXPECT_TRUE(PutFile(dir_ + "\\stub.exe", stub));
    PackOptions o;
    o.stubPath = dir_ + "\\stub.exe";
    o.outPath = dir_ + "\\setup.exe";
    o.fixedDate = date;
    o.update.keys = updateKeys;
    o.splitSize = 40000;
    o.files = std::move(files);
    const PackResult w = WritePackage(o);
    EXPECT_TRUE(w.ok) << w.error;
    return o;
  }

  std::string dir_;
};

TEST_F(UnPackWin, RealPackageLandsWithItsDatesFoldersAndAgent) {
  const std::uint32_t date = (43u << 25) | (7u << 21) | (4u << 16) | (10u << 11) | (20u << 5) | 15u;
  const PackOptions o = WriteSetup({Source("engine.exe", std::string(100000, 'e'), "Engine.exe", true),
                                    Source("deep.txt", "deep text", "sub/dir/deep.txt"),
                                    Source("empty.dat", "", "empty.dat")},
                                   date,
                                   UpdateKeysText({test::PointFromHex(test::kSignerPoint),
                                                   test::PointFromHex(test::kOtherPoint)}));

  std::vector<int> kinds;
  ExtractHooks hooks = WinExtractHooks();
  hooks.wait = nullptr;
  hooks.progress = [&](int kind, std::int64_t, std::int64_t, std::int64_t) { kinds.push_back(kind); };
  ExtractRequest r;
  r.packageFile = o.outPath;
  r.targetFolder = dir_ + "\\out\\target";
  r.agentFileName = "C:\\Program Files\\App\\Agent.exe";
  const ExtractResult result = Extract(r, hooks);

  EXPECT_TRUE(result.checksumOk);
  EXPECT_EQ(result.failedSaves, 0);
  EXPECT_EQ(result.runCommand, "Engine.exe*");
  EXPECT_EQ(GetFile(r.targetFolder + "\\Engine.exe"), std::string(100000, 'e'));
  EXPECT_EQ(GetFile(r.targetFolder + "\\sub\\dir\\deep.txt"), "deep text");
  EXPECT_TRUE(plat::Exists(r.targetFolder + "\\empty.dat"));
  for (const char* name : {"\\Engine.exe", "\\sub\\dir\\deep.txt", "\\empty.dat"})
    EXPECT_EQ(LocalDosDate(r.targetFolder + name), date) << name;
  EXPECT_EQ(LocalDosDate(r.targetFolder + "\\Agent.exe"), LocalDosDate(o.outPath));
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), 1), 3);
  // The agent trusts the publisher keys of the setup that wrote it.
  std::vector<UpdateKey> keys;
  std::string error;
  ASSERT_TRUE(TGFileInfo(r.targetFolder + "\\Agent.exe").UpdateKeys(keys, error)) << error;
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(HexText(keys[0].point), test::kSignerPoint);
  EXPECT_EQ(keys[0].id, "3cf076353b6e1156");
  EXPECT_EQ(HexText(keys[1].point), test::kOtherPoint);
}

TEST_F(UnPackWin, FailedSaveIsReportedWithTheSystemsFacts) {
  const PackOptions o = WriteSetup({Source("busy.txt", "12345", "busy.txt"), Source("next.txt", "n", "next.txt")}, 0);
  const std::string target = dir_ + "\\out";
  ASSERT_TRUE(plat::MakeDirs(target + "\\busy.txt"));  // a folder where the file should go
  std::vector<std::string> boxes;
  ExtractHooks hooks = WinExtractHooks();
  hooks.wait = nullptr;
  hooks.showError = [&](const std::string& text) { boxes.push_back(text); };
  ExtractRequest r;
  r.packageFile = o.outPath;
  r.targetFolder = target;
  EXPECT_EQ(Extract(r, hooks).failedSaves, 1);
  EXPECT_EQ(GetFile(target + "\\next.txt"), "n");

  ASSERT_EQ(boxes.size(), 1u);
  const std::string& text = boxes[0];
  const std::string head = target + "\\busy.txt<P><P>Unable to save Extracted File!<P><P>";
  EXPECT_EQ(text.rfind(head, 0), 0u) << text;
  // The system's reason for the failed write comes first.
  EXPECT_GT(text.find("<P>  Data Size: <T>5 Bytes<P>  File Size:  <T>"), head.size()) << text;
  const std::size_t free = text.find("Bytes Free: <T>");
  ASSERT_NE(free, std::string::npos);
  EXPECT_NE(text[free + 15], '-') << "no free-space figure: " << text;
}

TEST_F(UnPackWin, MakeDirsTakesEitherSeparatorAndExistingFolders) {
  EXPECT_TRUE(plat::MakeDirs(dir_ + "\\a\\b/c\\"));
  EXPECT_TRUE(plat::MakeDirs(dir_ + "\\a\\b\\c"));
  EXPECT_EQ(::GetFileAttributesA((dir_ + "\\a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_TRUE(PutFile(dir_ + "\\file", "x"));
  EXPECT_FALSE(plat::MakeDirs(dir_ + "\\file\\below"));
  EXPECT_FALSE(plat::MakeDirs(""));
}

}  // namespace
}  // namespace havrek
