#include "package/Signature.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SignatureCases.h"
#include "TestFolder.h"

namespace havrek {
namespace {

TEST(Signature, OpenSslVerifiesTheSignatureTable) { test::ExpectSignatureCases(); }

TEST(Signature, KeyIdIsTheHeadOfThePointsDigest) {
  // sha256(point)[0..8], as `openssl pkey -pubin -outform DER | tail -c 65 | sha256sum` gives it.
  EXPECT_EQ(KeyId(test::PointFromHex(test::kSignerPoint)), "3cf076353b6e1156");
}

TEST(Signature, UpdateKeysRoundTripAndRefuseWhatIsNoList) {
  const P256Point a = test::PointFromHex(test::kSignerPoint), b = test::PointFromHex(test::kOtherPoint);
  std::vector<P256Point> keys;
  std::string error;
  ASSERT_TRUE(ParseUpdateKeys(UpdateKeysText({a, b}), keys, error)) << error;
  EXPECT_EQ(keys, (std::vector<P256Point>{a, b}));
  EXPECT_TRUE(ParseUpdateKeys("", keys, error));
  EXPECT_TRUE(keys.empty());
  std::string upper = test::kSignerPoint;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_TRUE(ParseUpdateKeys(upper, keys, error));
  EXPECT_EQ(keys, std::vector<P256Point>{a});

  const std::string hex = test::kSignerPoint;
  std::string compressed = hex;
  compressed[1] = '3';
  const struct {
    const char* what;
    std::string text;
  } bad[] = {
      {"five keys", hex + "," + hex + "," + hex + "," + hex + "," + hex},
      {"an empty key between", hex + ",," + hex},
      {"a comma at the end", hex + ","},
      {"a short key", hex.substr(0, 128)},
      {"a compressed point", compressed},
      {"no hex", std::string(130, 'g')},
      {"blank around", " " + hex},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.what);
    keys = {a};
    EXPECT_FALSE(ParseUpdateKeys(c.text, keys, error));
    EXPECT_TRUE(keys.empty()) << "nothing half-read is kept";
    EXPECT_NE(error.find("update key"), std::string::npos) << error;
  }
  // Four is the most a package carries, and reads back.
  ASSERT_TRUE(ParseUpdateKeys(UpdateKeysText({a, b, a, b}), keys, error)) << error;
  EXPECT_EQ(keys.size(), kMaxUpdateKeys);
}

TEST(Signature, FileSha256ReadsTheWholeFileInPieces) {
  const std::filesystem::path dir = test::FreshTestFolder("file_sha256");
  const auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return (dir / name).string();
  };
  // Past one piece of the reader, and not a whole number of them.
  std::string bytes(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 12));
  const std::string path = write("big.bin", bytes);
  plat::Sha256 hash;
  hash.update(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  unsigned char expected[plat::kSha256Size];
  ASSERT_TRUE(hash.final(expected));
  Sha256Digest digest{};
  ASSERT_TRUE(FileSha256(path, digest));
  EXPECT_EQ(HexText(digest), HexText(expected, sizeof expected));

  ASSERT_TRUE(FileSha256(write("empty.bin", ""), digest));
  EXPECT_EQ(HexText(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(FileSha256((dir / "missing.bin").string(), digest));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace havrek
