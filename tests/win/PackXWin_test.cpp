#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"
#include "platform/Platform.h"

namespace havrek {
namespace {

std::string TempFolder() {
  char buf[MAX_PATH + 1] = {};
  ::GetTempPathA(MAX_PATH, buf);
  return buf;
}

bool PutFile(const std::string& path, const std::string& bytes) {
  const plat::File f(path, plat::OpenMode::Create);
  return f && f.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

TEST(PackXWin, ClusterSizeOfTheFirstThreeCharacters) {
  const std::uint32_t c = ClusterSize("C:\\Windows\\whatever.txt");
  EXPECT_GE(c, 512u);
  EXPECT_EQ(c & (c - 1), 0u);  // a power of two
  EXPECT_EQ(ClusterSize("C:\\"), c);
  EXPECT_EQ(ClusterSize(""), 0u);
  EXPECT_EQ(ClusterSize("relative\\path"), 0u);
}

// The writer and reader over the Win32 file seam: a setup written here reads
// back with a passing checksum and the space entry of this drive's clusters.
TEST(PackXWin, WrittenPackageReadsBackOnWindows) {
  const std::string dir = TempFolder() + "havrek_packxwin_" + std::to_string(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryA(dir.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  std::string stub(2048, '\0');
  stub.replace(0, 2, "MZ");
  stub.replace(256, 4, std::string("PE\0\0", 4));
  ASSERT_TRUE(PutFile(dir + "\\stub.exe", stub));
  ASSERT_TRUE(PutFile(dir + "\\engine.exe", std::string(10000, 'e')));

  PackOptions o;
  o.stubPath = dir + "\\stub.exe";
  o.outPath = dir + "\\setup.exe";
  PackFile engine;
  engine.source = dir + "\\engine.exe";
  engine.target = "engine.exe";
  engine.run = true;
  o.files.push_back(engine);
  o.update.token = EncodeToken("W-1");
  const PackResult r = WritePackage(o);
  ASSERT_TRUE(r.ok) << r.error;

  const TGFileInfo info(o.outPath);
  EXPECT_EQ(info.Header().magic, PackageMagic);
  EXPECT_TRUE(ChecksumPasses(info.Header().checksum, PackageChecksum(o.outPath, info.Header().trailerLength)));
  EXPECT_EQ(info.UpdateToken(), "W-1");
  EXPECT_TRUE(info.SameUpdateToken(o.outPath));
  EXPECT_EQ(info.SpaceNeeded(o.outPath), info.SpaceNeededFor(ClusterSize(o.outPath)));
  EXPECT_GE(info.SpaceNeeded(o.outPath), 10000.0);

  for (const char* name : {"\\stub.exe", "\\engine.exe", "\\setup.exe"}) ::DeleteFileA((dir + name).c_str());
  ::RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace havrek
