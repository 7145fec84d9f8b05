// ECDSA P-256 signatures made by `openssl dgst -sha256 -sign` with fixed
// keys, checked through the seam: the same table proves OpenSSL natively and
// CNG under Wine.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/Signature.h"

namespace havrek::test {

inline std::string FromHex(const std::string& hex) {
  std::string bytes(hex.size() / 2, '\0');
  EXPECT_TRUE(ParseHex(hex, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size())) << hex;
  return bytes;
}

inline P256Point PointFromHex(const std::string& hex) {
  P256Point point{};
  EXPECT_TRUE(ParseHex(hex, point.data(), point.size())) << hex;
  return point;
}

inline const char kSignedMessage[] = "havrek signed message\n";
// The key that signed, and one that did not.
inline const char kSignerPoint[] =
    "04cd4f7723ee0d4cbbb6489dfeeb13a7cbd51bece2b1200a96bf423d71effcfd00e07f7fd81100060b96ae4a7169ba216e9880a123e9430567"
    "494aa106e79bc351";
inline const char kOtherPoint[] =
    "049e4367c853dc87b55f1f5df9075587c6a14941b326ce94c4dc56bd66bfbb497b0ea03eca705d5234ae979c4574f179c5e181ef0315368350"
    "5c24928da898cb58";
// r of 33 bytes (a leading zero keeps it positive), s of 32.
inline const char kSignatureLongR[] =
    "3045022100933506abfc7aecc28d796c54b94f5454535f935a0644818438f3423a43820f40022032eb87ef73a8e01ccb70d122d3e4226dabd2"
    "3bb94fabf2377ebb9266a20bc607";
// r of 31 bytes: it must land right-aligned in r || s.
inline const char kSignatureShortR[] =
    "3044021f05e9486de24aa542bbe0ec7deccd32c4c1386913471fdf87edfd06e7929921022100c876cefaa28e0db721039efd8f080af30c506c"
    "d717374e7aa1994a3f5f35df31";

inline void ExpectSignatureCases() {
  const std::string message = kSignedMessage;
  const std::string r = "933506abfc7aecc28d796c54b94f5454535f935a0644818438f3423a43820f40";
  const std::string s = "32eb87ef73a8e01ccb70d122d3e4226dabd23bb94fabf2377ebb9266a20bc607";
  std::string flippedMessage = message;
  flippedMessage[3] ^= 1;
  std::string flippedSignature = FromHex(kSignatureLongR);
  flippedSignature[20] ^= 1;  // inside r
  std::string flippedS = FromHex(kSignatureLongR);
  flippedS[60] ^= 0x40;
  std::string compressed = kSignerPoint;
  compressed[1] = '2';
  std::string offCurve = kSignerPoint;
  offCurve.back() = offCurve.back() == '0' ? '1' : '0';

  struct Case {
    const char* what;
    std::string point;    // hex
    std::string message;
    std::string der;      // bytes
    const char* expected;  // "" good, "*" any refusal, else a part of the reason
  };
  const std::vector<Case> cases = {
      {"good, r of 33 bytes", kSignerPoint, message, FromHex(kSignatureLongR), ""},
      {"good, r of 31 bytes", kSignerPoint, message, FromHex(kSignatureShortR), ""},
      {"a byte of the message flipped", kSignerPoint, flippedMessage, FromHex(kSignatureLongR), "does not match"},
      {"message cut by its last byte", kSignerPoint, message.substr(0, message.size() - 1), FromHex(kSignatureLongR),
       "does not match"},
      {"a byte of r flipped", kSignerPoint, message, flippedSignature, "does not match"},
      {"a bit of s flipped", kSignerPoint, message, flippedS, "does not match"},
      {"another key", kOtherPoint, message, FromHex(kSignatureLongR), "does not match"},
      {"no signature", kSignerPoint, message, "", "no DER sequence"},
      {"a SET, not a SEQUENCE", kSignerPoint, message, FromHex("31" + std::string(kSignatureLongR).substr(2)),
       "no DER sequence"},
      {"cut by a byte", kSignerPoint, message, FromHex(kSignatureLongR).substr(0, 70), "length"},
      {"long-form length", kSignerPoint, message, FromHex("308145022100" + r + "0220" + s), "length"},
      {"a byte after s", kSignerPoint, message, FromHex("3046022100" + r + "0220" + s + "00"), "bytes after s"},
      {"r negative", kSignerPoint, message, FromHex("30440220" + r + "0220" + s), "r is negative"},
      {"s with a needless zero", kSignerPoint, message, FromHex("3046022100" + r + "022100" + s),
       "s is not minimally encoded"},
      {"r zero", kSignerPoint, message, FromHex("3025020100" "0220" + s), "r is zero"},
      {"r of 33 bytes", kSignerPoint, message, FromHex("3045022101" + r + "0220" + s), "longer than 32 bytes"},
      {"r longer than its sequence", kSignerPoint, message, FromHex("3006024f" + r.substr(0, 8)), "r has a length"},
      {"s missing", kSignerPoint, message, FromHex("3023022100" + r), "no INTEGER s"},
      {"a compressed point's tag", compressed, message, FromHex(kSignatureLongR), "no P-256 public key"},
      {"a point off the curve", offCurve, message, FromHex(kSignatureLongR), "*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string error = VerifySignature(PointFromHex(c.point), c.message, c.der);
    if (std::string(c.expected).empty())
      EXPECT_EQ(error, "");
    else if (std::string(c.expected) == "*")
      EXPECT_NE(error, "");
    else
      EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
}

}  // namespace havrek::test
