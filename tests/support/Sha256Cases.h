// Known SHA-256 digests, fed to the seam's digest in uneven pieces: the same
// table checks OpenSSL natively and CNG under Wine.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace havrek::test {

inline void ExpectKnownSha256Digests() {
  struct Case {
    std::string input;
    const char* digest;
  };
  const std::vector<Case> cases = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    plat::Sha256 hash;
    ASSERT_TRUE(hash);
    // Pieces of 1, 2, 3, ... bytes: no piece boundary may change the digest.
    for (std::size_t at = 0, n = 1; at < c.input.size(); at += n, ++n)
      hash.update(c.input.data() + at, static_cast<std::int64_t>(std::min(n, c.input.size() - at)));
    unsigned char digest[plat::kSha256Size];
    ASSERT_TRUE(hash.final(digest));
    EXPECT_FALSE(hash) << "spent once the digest is taken";
    std::string hex;
    char two[3];
    for (unsigned char b : digest) {
      std::snprintf(two, sizeof two, "%02x", b);
      hex += two;
    }
    EXPECT_EQ(hex, c.digest);
  }
}

}  // namespace havrek::test
