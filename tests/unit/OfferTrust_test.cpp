// The agent's trust in a fetched offer, with real signatures: keys made by
// the openssl command, offers signed by havrek-pack, checked through the
// platform's ECDSA.
#include "agent/OfferTrust.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "agent/SignedOffer.h"

#if defined(HAVREK_PACK_EXE)

namespace havrek {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kSignedAt = 1800000000;  // 2027-01-15T08:00:00Z
constexpr std::int64_t kNow = kSignedAt + 3600;

class OfferTrustTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("openssl version >/dev/null 2>&1") != 0) return;
    dir_ = new fs::path(test::FreshTestFolder("offertrust"));
    for (const char* name : {"A", "B", "C"}) {
      const std::string n = name;
      ASSERT_EQ(Shell("openssl ecparam -name prime256v1 -genkey -noout | openssl pkcs8 -topk8 -nocrypt -out " + n +
                      ".key && openssl pkey -in " + n + ".key -pubout -outform DER -out " + n + ".der"),
                0);
      const std::string der = test::Slurp(*dir_ / (n + ".der"));
      ASSERT_GE(der.size(), 65u);
      UpdateKey key;
      std::copy(der.end() - 65, der.end(), key.point.begin());
      key.id = KeyId(key.point);
      keys_[n] = key;
    }
  }
  static void TearDownTestSuite() {
    if (dir_) fs::remove_all(*dir_);
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "no openssl command";
  }

  static int Shell(const std::string& command) {
    const std::string cmd = "cd '" + dir_->string() + "' && " + command + " >out.txt 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  // body signed by the key at the time.
  static std::string Signed(const std::string& body, const std::string& key, std::int64_t at = kSignedAt) {
    std::ofstream(*dir_ / "offer.info", std::ios::binary) << body;
    EXPECT_EQ(Shell("SOURCE_DATE_EPOCH=" + std::to_string(at) + " timeout 60 '" HAVREK_PACK_EXE "' sign-offer --key " +
                    key + ".key offer.info"),
              0)
        << test::Slurp(*dir_ / "out.txt");
    return test::Slurp(*dir_ / "offer.info");
  }
  static std::vector<UpdateKey> Keys(std::initializer_list<const char*> names) {
    std::vector<UpdateKey> keys;
    for (const char* n : names) keys.push_back(keys_[n]);
    return keys;
  }

  static inline fs::path* dir_ = nullptr;
  static inline std::map<std::string, UpdateKey> keys_;
};

const std::string kDigest(64, 'a');
const std::string kBody = "[NewSetup]\r\nVersionNew=2\r\nStamp=2\r\nDownloadURL_UPDATE=http://example.test\r\n"
                          "NameOfUpdateFile=ToolUpdate.exe\r\nSizeOfUpdateFile=1000\r\nSHA256OfUpdateFile=" +
                          kDigest + "\r\n";

TEST_F(OfferTrustTest, OnlyAFreshOfferSignedByAPackageKeyIsTrusted) {
  const std::string byA = Signed(kBody, "A");
  std::string bodyChanged = byA;
  bodyChanged[bodyChanged.find("VersionNew=2") + 11] = '3';
  std::string signatureDamaged = byA;
  const std::size_t sig = signatureDamaged.find(";signature=") + 20;
  signatureDamaged[sig] = signatureDamaged[sig] == 'A' ? 'B' : 'A';
  const std::string withKey = "SHA256OfUpdateFile=" + kDigest + "\r\n";
  const auto body = [&](const std::string& insert) { return kBody + insert; };

  struct Case {
    const char* what;
    std::string offer;
    std::int64_t newest;
    std::int64_t now;
    const char* refusal;  // null: accepted
  };
  const Case cases[] = {
      {"signed by key A", byA, 0, kNow, nullptr},
      {"signed by key B, the next in a rotation", Signed(kBody, "B"), 0, kNow, nullptr},
      {"the accepted offer fetched again", byA, kSignedAt, kNow, nullptr},
      {"unsigned", kBody, 0, kNow, "no valid signature: not signed"},
      {"one byte of the body changed", bodyChanged, 0, kNow, "bad signature by key"},
      {"the signature line damaged", signatureDamaged, 0, kNow, "signature"},
      {"signed by key C, not the package's", Signed(kBody, "C"), 0, kNow, "which is not among the package's keys"},
      {"older than the newest accepted: a replay", byA, kSignedAt + 1, kNow, "before the newest offer accepted here"},
      {"OfferExpires passed", Signed(body("OfferExpires=2027-01-15T08:30:00Z\r\n"), "A"), 0, kNow,
       "expired at 2027-01-15T08:30:00Z"},
      {"OfferExpires not yet come", Signed(body("OfferExpires=2027-01-15T10:00:00Z\r\n"), "A"), 0, kNow, nullptr},
      {"OfferExpires no time", Signed(body("OfferExpires=tomorrow\r\n"), "A"), 0, kNow, "is no UTC time"},
      {"an update without its digest",
       Signed("[NewSetup]\r\nVersionNew=2\r\nNameOfUpdateFile=ToolUpdate.exe\r\n", "A"), 0, kNow,
       "without SHA256OfUpdateFile"},
      {"a malformed digest", Signed("[NewSetup]\r\nNameOfUpdateFile=T.exe\r\nSHA256OfUpdateFile=12ab\r\n", "A"), 0,
       kNow, "is no SHA-256"},
      {"an information page without its digest",
       Signed("[General]\r\nAutoInform=1\r\n[AutoInform]\r\nNameOfInformFile=page.inf\r\n", "A"), 0, kNow,
       "without SHA256OfInformFile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OfferTrust trust = CheckOfferTrust(c.offer, Keys({"A", "B"}), c.newest, c.now, VerifySignature);
    if (!c.refusal) {
      EXPECT_TRUE(trust.accepted) << trust.reason;
      EXPECT_EQ(trust.signedAt, kSignedAt);
      EXPECT_EQ(trust.reason, "");
    } else {
      EXPECT_FALSE(trust.accepted);
      EXPECT_NE(trust.reason.find(c.refusal), std::string::npos) << trust.reason;
      EXPECT_EQ(trust.reason.find('\n'), std::string::npos) << "one line";
    }
  }
}

TEST_F(OfferTrustTest, NothingIsTrustedWithoutASignatureCheck) {
  const OfferTrust trust = CheckOfferTrust(Signed(kBody, "A"), Keys({"A"}), 0, kNow, OfferVerifier());
  EXPECT_FALSE(trust.accepted);
  EXPECT_NE(trust.reason.find("no signature check"), std::string::npos) << trust.reason;
}

TEST(FileDigest, TheFileMustMatchTheDigestTheOfferNames) {
  const fs::path dir = test::FreshTestFolder("filedigest");
  const std::string path = (dir / "ToolUpdate.exe").string();
  std::ofstream(path, std::ios::binary) << "abc";
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::string upper = abc;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  std::string other = abc;
  other[0] = 'c';

  struct Case {
    const char* what;
    std::string digest;
    bool required;
    std::string file;
    std::vector<std::string> problem;  // parts of the text; empty: no problem
  };
  const Case cases[] = {
      {"matching", abc, false, path, {}},
      {"matching in upper case", upper, true, path, {}},
      {"none named, none required", "", false, path, {}},
      {"none named but required", "", true, path, {"names no SHA256OfUpdateFile"}},
      {"another file's", other, false, path, {"SHA-256 mismatch", other, abc}},
      {"not a digest", "abc", false, path, {"is no SHA-256"}},
      {"no file", abc, false, (dir / "missing").string(), {"no SHA-256 of"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string problem = FileDigestProblem(c.file, "SHA256OfUpdateFile", c.digest, c.required);
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "");
    }
    for (const std::string& part : c.problem) EXPECT_NE(problem.find(part), std::string::npos) << problem;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace havrek

#endif
