#include <windows.h>
#include <bcrypt.h>

#include <gtest/gtest.h>

#include "Sha256Cases.h"
#include "platform/Sha256Blocks.h"

namespace havrek {
namespace {

TEST(DigestWin, TheStubsDigestGivesTheKnownDigests) { test::ExpectKnownSha256Digests(); }

// The system's own SHA-256, which the stub's is held to.
std::string CngDigest(const std::vector<std::string>& pieces) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[plat::kSha256Size];
  bool ok = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
            ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  for (const std::string& piece : pieces)
    ok = ok && ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data())),
                                static_cast<ULONG>(piece.size()), 0) >= 0;
  ok = ok && ::BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0;
  if (hash) ::BCryptDestroyHash(hash);
  if (algorithm) ::BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok ? test::HexOf(digest) : "no CNG digest";
}

TEST(DigestWin, EachPathAgreesWithTheSystemsDigest) {
  std::vector<plat::Sha256Path> paths = {plat::Sha256Path::portable};
  if (plat::CpuHasShaInstructions()) paths.push_back(plat::Sha256Path::cpuInstructions);
  for (plat::Sha256Path path : paths) {
    SCOPED_TRACE(path == plat::Sha256Path::portable ? "portable" : "SHA instructions");
    test::ExpectSameSha256(
        [path](const std::vector<std::string>& pieces) {
          plat::Sha256Stream stream(path);
          for (const std::string& piece : pieces) stream.update(piece.data(), piece.size());
          unsigned char digest[plat::kSha256Size];
          stream.final(digest);
          return test::HexOf(digest);
        },
        CngDigest);
  }
}

}  // namespace
}  // namespace havrek
