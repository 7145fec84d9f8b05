#include "package/TokenCodec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "RepeatableRandom.h"

namespace havrek {
namespace {

// "Hi" with p = 2, q = 2, first byte 0x10 and key 0x5A.
const std::string kEncodedHi = "cbgjgjhkcwcdeebxwgfs";

std::string EveryByte() {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  return all;
}

TEST(TokenCodec, EncodingsDecodeBackAndBadArgumentsGiveNothing) {
  struct Case {
    std::string token;
    int p, q;
    std::uint32_t seed;
    bool encodes;
  };
  const Case cases[] = {
      {"Release 3.1", 1, 1, 7, true},
      {"Release 3.1", 40, 17, 99, true},
      {"x", 0, 1, 3, true},                // no filler ahead, the checksum alone after
      {EveryByte(), 255, 255, 1, true},    // every byte value survives
      {"", 1, 1, 1, false},                // an empty token never decodes
      {"x", 1, 0, 1, false},               // no room for the checksum
      {"x", 256, 1, 1, false},
      {"x", -1, 1, 1, false},
      {"x", 1, 256, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.token.size() << " bytes, p " << c.p << ", q " << c.q);
    const std::string encoded = EncodeToken(c.token, c.p, c.q, c.seed);
    std::string token;
    if (!c.encodes) {
      EXPECT_EQ(encoded, "");
      EXPECT_FALSE(TryDecodeToken(encoded, token));
      continue;
    }
    // The records and pages separate their fields with "|".
    EXPECT_EQ(encoded.find('|'), std::string::npos);
    ASSERT_TRUE(TryDecodeToken(encoded, token));
    EXPECT_EQ(token, c.token);
    EXPECT_EQ(DecodeToken(encoded), c.token);
  }
}

TEST(TokenCodec, FillersAndKeysLeaveTheTokenAlone) {
  const std::string a = EncodeToken("Release 3.1", 1, 1, 7);
  const std::string b = EncodeToken("Release 3.1", 40, 17, 99);
  const std::string c = EncodeToken("Release 3.1");
  EXPECT_NE(a, b);
  EXPECT_GT(b.size(), a.size());
  for (const std::string& e : {a, b, c}) EXPECT_EQ(DecodeToken(e), "Release 3.1");
  EXPECT_TRUE(SameToken(a, b));
  EXPECT_FALSE(SameToken(a, EncodeToken("Release 3.2")));
  EXPECT_EQ(DecodeToken(kEncodedHi), "Hi");
  std::string token;
  EXPECT_TRUE(TryDecodeToken(kEncodedHi, token));
  EXPECT_EQ(token, "Hi");
}

// Builds given the same token write the same bytes, on every machine and in
// every version of the tool.
TEST(TokenCodec, TheDefaultEncodingOfATokenNeverChanges) {
  EXPECT_EQ(EncodeToken("Release 3.1"), "exiwiffibsktdstuvsbbjthxbwtbdicbckcbcfbhcbggfhgtffsefs");
  EXPECT_EQ(EncodeToken("Release 3.1"), EncodeToken("Release 3.1"));
}

TEST(TokenCodec, TextsThatDoNotDecodeGiveARandomNumberBelow99999) {
  const std::vector<std::string> bad = {
      "cbgjgjhkcwcdeebxwhfs",  // checksum byte off by one
      "",                      // one byte of 0
      "bbbbbbbb",              // four bytes
      "bbb",                   // odd length, two bytes
      // p + q larger than the bytes there: 6 bytes, p = 0xFF, q = 0xFF
      // (key 0, checksum 0xFE + ... kept valid)
      "bbxxxxbbxwbb",
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    std::string token;
    EXPECT_FALSE(TryDecodeToken(text, token));
    const std::string decoded = DecodeToken(text);
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(decoded.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_LT(std::stoll(decoded), 99999);
  }
}

// Two texts that do not decode decode to the same number here: only the
// comparison keeps them apart.
TEST(TokenCodec, FailedTokensNeverCompareEqual) {
  const test::RepeatableRandom repeatable;
  ASSERT_EQ(DecodeToken("bad"), DecodeToken("bad"));
  EXPECT_TRUE(SameToken(kEncodedHi, kEncodedHi));
  EXPECT_FALSE(SameToken("bad", "bad"));
  EXPECT_FALSE(SameToken(kEncodedHi, "bad"));
  EXPECT_FALSE(SameToken("", ""));
}

}  // namespace
}  // namespace havrek
