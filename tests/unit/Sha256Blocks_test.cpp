#include "platform/Sha256Blocks.h"

#include <gtest/gtest.h>

#include "Sha256Cases.h"

namespace havrek {
namespace {

std::vector<plat::Sha256Path> PathsOfThisCpu() {
  std::vector<plat::Sha256Path> paths = {plat::Sha256Path::portable};
  if (plat::CpuHasShaInstructions()) paths.push_back(plat::Sha256Path::cpuInstructions);
  return paths;
}

std::string OwnDigest(plat::Sha256Path path, const std::vector<std::string>& pieces) {
  plat::Sha256Stream stream(path);
  for (const std::string& piece : pieces) stream.update(piece.data(), piece.size());
  unsigned char digest[plat::kSha256Size];
  stream.final(digest);
  return test::HexOf(digest);
}

std::string SeamDigest(const std::vector<std::string>& pieces) {
  plat::Sha256 hash;
  for (const std::string& piece : pieces) hash.update(piece.data(), static_cast<std::int64_t>(piece.size()));
  unsigned char digest[plat::kSha256Size];
  return hash.final(digest) ? test::HexOf(digest) : "no digest";
}

TEST(Sha256Blocks, EachPathGivesTheKnownDigests) {
  for (plat::Sha256Path path : PathsOfThisCpu()) {
    SCOPED_TRACE(path == plat::Sha256Path::portable ? "portable" : "SHA instructions");
    for (const test::Sha256Case& c : test::KnownSha256Cases()) {
      SCOPED_TRACE(c.input.substr(0, 20));
      // Whole, and in pieces of 1, 2, 3, ... bytes.
      EXPECT_EQ(OwnDigest(path, {c.input}), c.digest);
      std::vector<std::string> pieces;
      for (std::size_t at = 0, n = 1; at < c.input.size(); at += n, ++n) pieces.push_back(c.input.substr(at, n));
      EXPECT_EQ(OwnDigest(path, pieces), c.digest);
    }
  }
}

TEST(Sha256Blocks, EachPathAgreesWithTheLibraryOnRandomInputs) {
  for (plat::Sha256Path path : PathsOfThisCpu()) {
    SCOPED_TRACE(path == plat::Sha256Path::portable ? "portable" : "SHA instructions");
    test::ExpectSameSha256([path](const std::vector<std::string>& p) { return OwnDigest(path, p); }, SeamDigest);
  }
}

}  // namespace
}  // namespace havrek
