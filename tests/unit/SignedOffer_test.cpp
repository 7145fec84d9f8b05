#include "agent/SignedOffer.h"
#include "package/Signature.h"

#include <gtest/gtest.h>

#include <string>

namespace havrek {
namespace {

// A DER signature of the right shape (r = 1, s = 1); its value is checked
// elsewhere, by the platform.
const std::string kDer("\x30\x06\x02\x01\x01\x02\x01\x01", 8);
const std::string kBody = "[NewSetup]\r\nVersionNew=2\r\n";
const std::string kSigned = ";signed=2026-12-11T13:00:00Z key=0123456789abcdef\r\n";

std::string Signature(const std::string& der = kDer) { return ";signature=" + Base64Encode(der) + "\r\n"; }

TEST(SignedOffer, ASignedOfferSplitsIntoItsSignedBytesTimeKeyAndSignature) {
  OfferSignature s;
  std::string error;
  ASSERT_TRUE(SplitSignedOffer(kBody + kSigned + Signature(), s, error)) << error;
  EXPECT_EQ(s.signedBytes, kBody + kSigned);
  EXPECT_EQ(s.signedAt, 1796994000);
  EXPECT_EQ(s.keyId, "0123456789abcdef");
  EXPECT_EQ(s.der, kDer);
  // Put together by the same unit, taken apart again.
  ASSERT_TRUE(SplitSignedOffer(kBody + SignedLine(s.signedAt, s.keyId) + SignatureLine(s.der), s, error)) << error;
  EXPECT_EQ(s.signedBytes, kBody + kSigned);
  // An offer of nothing but its signature.
  ASSERT_TRUE(SplitSignedOffer(kSigned + Signature(), s, error)) << error;
  EXPECT_EQ(s.signedBytes, kSigned);
}

TEST(SignedOffer, AnythingButTheExactTwoLinesAtTheEndIsRefusedWithItsReason) {
  const std::string badDer("\x30\x06\x02\x01\x81\x02\x01\x01", 8);  // r negative
  const struct {
    const char* name;
    std::string offer;
    const char* error;
  } cases[] = {
      {"unsigned", kBody, "not signed"},
      {"empty file", "", "not signed"},
      {"signature line not at a line start", kBody + kSigned + " " + Signature(), "not signed"},
      {"signature line without CRLF", kBody + kSigned + ";signature=" + Base64Encode(kDer), "does not end in CRLF"},
      {"signature line ending in LF", kBody + kSigned + ";signature=" + Base64Encode(kDer) + "\n",
       "does not end in CRLF"},
      {"a line after the signature", kBody + kSigned + Signature() + "[Extra]\r\n", "9 bytes after"},
      {"a byte after the signature", kBody + kSigned + Signature() + "\n", "1 bytes after"},
      {"no signed line", kBody + Signature(), "no \";signed=\" line"},
      {"only the signature line", Signature(), "no \";signed=\" line"},
      {"signed line ending in LF", kBody + kSigned.substr(0, kSigned.size() - 2) + "\n" + Signature(),
       "does not end in CRLF"},
      {"line before the signed line ending in LF", "[NewSetup]\n" + kSigned + Signature(),
       "before the \";signed=\" line does not end in CRLF"},
      {"no key field", kBody + ";signed=2026-12-11T13:00:00Z\r\n" + Signature(), "is not \";signed="},
      {"short key id", kBody + ";signed=2026-12-11T13:00:00Z key=0123456789abcde\r\n" + Signature(),
       "is not \";signed="},
      {"upper-case key id", kBody + ";signed=2026-12-11T13:00:00Z key=0123456789ABCDEF\r\n" + Signature(),
       "not 16 lower-case"},
      {"key id not hex", kBody + ";signed=2026-12-11T13:00:00Z key=0123456789abcdeg\r\n" + Signature(),
       "not 16 lower-case"},
      {"blank before the key", kBody + ";signed=2026-12-11T13:00:00Z  key=0123456789abcde\r\n" + Signature(),
       "is not \";signed="},
      {"local time", kBody + ";signed=2026-12-11T13:00:00+ key=0123456789abcdef\r\n" + Signature(),
       "no UTC time"},
      {"no such day", kBody + ";signed=2026-02-29T13:00:00Z key=0123456789abcdef\r\n" + Signature(),
       "no UTC time"},
      {"empty signature", kBody + kSigned + ";signature=\r\n", "empty"},
      {"base64 with a blank", kBody + kSigned + ";signature=" + Base64Encode(kDer) + " \r\n", "not valid base64"},
      {"base64 without padding", kBody + kSigned + ";signature=MAYCAQECAQE\r\n", "not valid base64"},
      {"not DER", kBody + kSigned + Signature("not a signature"), "no DER ECDSA"},
      {"negative integer", kBody + kSigned + Signature(badDer), "no DER ECDSA"},
      {"two signatures", kBody + kSigned + Signature() + kSigned + Signature(), "a second signature"},
      {"a signed line inside", kSigned + kBody + kSigned + Signature(), "a second signature"},
      {"too large", std::string(kMaxOfferSize, ';') + kSigned + Signature(), "larger than"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OfferSignature s;
    std::string error;
    EXPECT_FALSE(SplitSignedOffer(c.offer, s, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(SignedOffer, SigningAgainStartsFromTheOfferWithoutItsSignature) {
  const struct {
    const char* name;
    std::string offer;
    std::string unsignedText;
  } cases[] = {
      {"signed", kBody + kSigned + Signature(), kBody},
      {"unsigned", kBody, kBody},
      {"LF lines and no last line end", "[NewSetup]\nVersionNew=2", kBody},
      {"a signed line left alone", kBody + kSigned, kBody},
      // Not at the end: the agent's split refuses it, so it is not hidden.
      {"signature lines inside", kSigned + Signature() + kBody, kSigned + Signature() + kBody},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UnsignedOffer(c.offer), c.unsignedText);
  }
}

TEST(SignedOffer, UtcTimesReadAndWriteTheSameSeconds) {
  const struct {
    const char* text;
    std::int64_t seconds;
  } good[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2000-02-29T23:59:59Z", 951868799},
      {"2026-12-11T13:00:00Z", 1796994000},
      {"2100-03-01T00:00:00Z", 4107542400},
      {"9999-12-31T23:59:59Z", 253402300799},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.text);
    std::int64_t seconds = -1;
    EXPECT_TRUE(ParseUtcTime(c.text, seconds));
    EXPECT_EQ(seconds, c.seconds);
    EXPECT_EQ(UtcTimeText(c.seconds), c.text);
  }
  for (const char* bad : {"1969-12-31T23:59:59Z", "2100-02-29T00:00:00Z", "2026-13-01T00:00:00Z",
                          "2026-12-00T00:00:00Z", "2026-12-11T24:00:00Z", "2026-12-11T13:60:00Z",
                          "2026-12-11T13:00:60Z", "2026-12-11t13:00:00z", "2026-12-11T13:00:00", "+026-12-11T13:00:00Z",
                          "2026-1-11T13:00:00ZZ", ""}) {
    std::int64_t seconds;
    EXPECT_FALSE(ParseUtcTime(bad, seconds)) << bad;
  }
}

TEST(SignedOffer, Base64AndDerAreReadOnlyInTheirOneCanonicalForm) {
  for (const std::string bytes : {std::string(), std::string("f"), std::string("fo"), std::string("foo"),
                                  std::string("foob"), std::string("\0\xff\x80", 3)}) {
    std::string back = "x";
    EXPECT_TRUE(Base64Decode(Base64Encode(bytes), back));
    EXPECT_EQ(back, bytes);
  }
  EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
  for (const char* bad : {"Zm9vYg=", "Zm9vYh==", "Zm9=Yg==", "Zg=a", "====", "Zm9v\nYg==", "Zm9vYg==Zm9v", "Z-9v"}) {
    std::string bytes;
    EXPECT_FALSE(Base64Decode(bad, bytes)) << bad;
  }

  const std::string r32(32, '\x11');
  const struct {
    const char* name;
    std::string der;
    bool good;
  } cases[] = {
      {"small values", kDer, true},
      {"full values with their zero byte", "\x30\x46\x02\x21" + std::string(1, '\0') + "\x80" + r32.substr(1) +
                                               "\x02\x21" + std::string(1, '\0') + "\xff" + r32.substr(1), true},
      {"needless zero byte", std::string("\x30\x07\x02\x02\x00\x01\x02\x01\x01", 9), false},
      {"zero-length integer", std::string("\x30\x05\x02\x00\x02\x01\x01", 7), false},
      {"33 bytes without a zero", "\x30\x46\x02\x21\x01" + r32 + "\x02\x21" + std::string(1, '\0') + "\x80" + r32.substr(1),
       false},
      {"sequence length wrong", std::string("\x30\x07\x02\x01\x01\x02\x01\x01", 8), false},
      {"byte after the sequence", kDer + std::string(1, '\0'), false},
      {"one integer", std::string("\x30\x03\x02\x01\x01", 5), false},
      {"not a sequence", std::string("\x31\x06\x02\x01\x01\x02\x01\x01", 8), false},
  };
  // The signature line's DER, as the stub hands it to the system's check.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char rs[plat::kP256SignatureSize];
    std::string error;
    EXPECT_EQ(DerSignatureToRaw(c.der, rs, error), c.good) << error;
  }
  unsigned char rs[plat::kP256SignatureSize];
  std::string error;
  ASSERT_TRUE(DerSignatureToRaw(kDer, rs, error));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rs), sizeof rs),
            std::string(31, '\0') + "\x01" + std::string(31, '\0') + "\x01");
}

TEST(SignedOffer, DigestsReadFromHexInEitherCase) {
  std::string digest;
  ASSERT_TRUE(ParseSha256Hex(std::string(62, '0') + "aF", digest));
  EXPECT_EQ(digest, std::string(31, '\0') + "\xaf");
  EXPECT_EQ(LowerHex(digest), std::string(62, '0') + "af");
  EXPECT_FALSE(ParseSha256Hex(std::string(62, '0') + "ag", digest));
  EXPECT_FALSE(ParseSha256Hex(std::string(63, '0'), digest));
}

}  // namespace
}  // namespace havrek
