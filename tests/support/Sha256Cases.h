// Known SHA-256 digests, fed to a digest in uneven pieces: the same table
// checks the seam's digest natively and under Wine, and the stub's own
// paths; random inputs compare one digest with another.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <random>

#include "platform/Platform.h"

namespace havrek::test {

struct Sha256Case {
  std::string input;
  const char* digest;
};

inline std::string HexOf(const unsigned char (&digest)[plat::kSha256Size]) {
  std::string hex;
  char two[3];
  for (unsigned char b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

inline std::vector<Sha256Case> KnownSha256Cases() {
  return {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
  };
}

// Random inputs of every length around the block and padding edges, and
// larger ones, in random pieces: digestA and digestB (each a callable
// taking the pieces and returning the hex digest) must agree.
template <class A, class B>
void ExpectSameSha256(A digestA, B digestB) {
  std::mt19937 random(20261211);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 200; ++n) lengths.push_back(n);
  for (std::size_t n : {1000u, 4095u, 4096u, 65537u, 1000003u}) lengths.push_back(n);
  for (std::size_t length : lengths) {
    std::string input(length, '\0');
    for (char& c : input) c = static_cast<char>(random());
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < length;) {
      const std::size_t n = std::min<std::size_t>(length - at, random() % 300);
      pieces.push_back(input.substr(at, n));
      at += n;
    }
    ASSERT_EQ(digestA(pieces), digestB(pieces)) << "length " << length;
  }
}

inline void ExpectKnownSha256Digests() {
  for (const Sha256Case& c : KnownSha256Cases()) {
    SCOPED_TRACE(c.input.substr(0, 20));
    plat::Sha256 hash;
    ASSERT_TRUE(hash);
    // Pieces of 1, 2, 3, ... bytes: no piece boundary may change the digest.
    for (std::size_t at = 0, n = 1; at < c.input.size(); at += n, ++n)
      hash.update(c.input.data() + at, static_cast<std::int64_t>(std::min(n, c.input.size() - at)));
    unsigned char digest[plat::kSha256Size];
    ASSERT_TRUE(hash.final(digest));
    EXPECT_FALSE(hash) << "spent once the digest is taken";
    EXPECT_EQ(HexOf(digest), c.digest);
  }
}

}  // namespace havrek::test
