#include "agent/SignedOffer.h"

#include <algorithm>
#include <cstdio>

#include "package/Signature.h"
#include "util/Utils.h"

namespace havrek {
namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kTimeLength = 20;   // YYYY-MM-DDTHH:MM:SSZ
constexpr std::size_t kKeyIdLength = 16;  // 8 bytes in hexadecimal
const char kKeyField[] = " key=";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWith(const std::string& text, std::size_t at, const char* prefix) {
  return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : days[m - 1];
}

// Where the line that holds offset at starts.
std::size_t LineStart(const std::string& text, std::size_t at) {
  const std::size_t nl = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
  return nl == std::string::npos ? 0 : nl + 1;
}

// A line of text at the start of a line, not its first characters.
bool HasLineStarting(const std::string& text, const char* prefix) {
  for (std::size_t at = 0; at < text.size();) {
    if (StartsWith(text, at, prefix)) return true;
    const std::size_t nl = text.find('\n', at);
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return false;
}

// One DER INTEGER of a P-256 signature at der[at]: minimal, positive, at most
// 32 bytes of value; its value right-aligned into 32 bytes of out.
bool ReadDerInteger(const std::string& der, std::size_t& at, std::string& out) {
  if (at + 2 > der.size() || der[at] != 0x02) return false;
  const std::size_t length = static_cast<unsigned char>(der[at + 1]);
  at += 2;
  if (length == 0 || length > 33 || at + length > der.size()) return false;
  const unsigned char first = static_cast<unsigned char>(der[at]);
  if (first & 0x80) return false;  // negative
  if (length == 33 && first != 0) return false;  // wider than the curve's 32 bytes
  if (first == 0 && (length == 1 || !(static_cast<unsigned char>(der[at + 1]) & 0x80))) return false;  // not minimal
  std::string value = der.substr(at, length);
  if (value.size() == 33) value.erase(0, 1);
  at += length;
  out += std::string(32 - value.size(), '\0') + value;
  return true;
}

}  // namespace

bool SplitSignedOffer(const std::string& offer, OfferSignature& signature, std::string& error) {
  if (offer.size() > kMaxOfferSize)
    return (error = "larger than " + std::to_string(kMaxOfferSize) + " bytes, more than an agent fetches"), false;
  // The last line that starts as a signature line; an earlier one is
  // refused below as a signature inside the signed part.
  std::size_t sigAt = std::string::npos;
  for (std::size_t at = 0; at < offer.size();) {
    if (StartsWith(offer, at, kSignatureLinePrefix)) sigAt = at;
    const std::size_t nl = offer.find('\n', at);
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  if (sigAt == std::string::npos) return (error = "not signed: no \";signature=\" line"), false;
  const std::size_t sigEnd = offer.find('\n', sigAt);
  if (sigEnd == std::string::npos || offer[sigEnd - 1] != '\r')
    return (error = "the \";signature=\" line does not end in CRLF"), false;
  if (sigEnd + 1 != offer.size())
    return (error = std::to_string(offer.size() - sigEnd - 1) + " bytes after the \";signature=\" line"), false;

  if (sigAt == 0) return (error = "no \";signed=\" line before the \";signature=\" line"), false;
  if (sigAt < 2 || offer[sigAt - 2] != '\r')
    return (error = "the line before the \";signature=\" line does not end in CRLF"), false;
  const std::size_t signedAt = LineStart(offer, sigAt - 1);
  if (!StartsWith(offer, signedAt, kSignedLinePrefix))
    return (error = "no \";signed=\" line before the \";signature=\" line"), false;
  if (signedAt > 0 && (signedAt < 2 || offer[signedAt - 2] != '\r'))
    return (error = "the line before the \";signed=\" line does not end in CRLF"), false;
  const std::string signedLine = offer.substr(signedAt, sigAt - 2 - signedAt);
  const std::size_t prefix = std::char_traits<char>::length(kSignedLinePrefix);
  const std::size_t keyField = std::char_traits<char>::length(kKeyField);
  if (signedLine.size() != prefix + kTimeLength + keyField + kKeyIdLength ||
      signedLine.compare(prefix + kTimeLength, keyField, kKeyField) != 0)
    return (error = "the \";signed=\" line is not \";signed=YYYY-MM-DDTHH:MM:SSZ key=KEYID\""), false;
  if (!ParseUtcTime(signedLine.substr(prefix, kTimeLength), signature.signedAt))
    return (error = "the signing time \"" + signedLine.substr(prefix, kTimeLength) +
                    "\" is no UTC time YYYY-MM-DDTHH:MM:SSZ"),
           false;
  signature.keyId = signedLine.substr(prefix + kTimeLength + keyField);
  for (char c : signature.keyId)
    if (!IsDigit(c) && !(c >= 'a' && c <= 'f'))
      return (error = "the key id \"" + signature.keyId + "\" is not 16 lower-case hexadecimal digits"), false;

  const std::size_t valueAt = sigAt + std::char_traits<char>::length(kSignatureLinePrefix);
  const std::string encoded = offer.substr(valueAt, sigEnd - 1 - valueAt);
  if (encoded.empty()) return (error = "the signature is empty"), false;
  if (!Base64Decode(encoded, signature.der)) return (error = "the signature is not valid base64"), false;
  unsigned char rs[plat::kP256SignatureSize];
  std::string why;
  if (!DerSignatureToRaw(signature.der, rs, why))
    return (error = "the signature is no DER ECDSA P-256 signature (" + why + ")"), false;

  signature.signedBytes = offer.substr(0, sigAt);
  const std::string before = offer.substr(0, signedAt);
  if (HasLineStarting(before, kSignedLinePrefix) || HasLineStarting(before, kSignatureLinePrefix))
    return (error = "a second signature inside the signed part"), false;
  return true;
}

std::string UnsignedOffer(const std::string& offer) {
  std::string text;
  text.reserve(offer.size() + offer.size() / 16);
  for (std::size_t at = 0; at < offer.size();) {
    std::size_t nl = offer.find('\n', at);
    if (nl == std::string::npos) nl = offer.size();
    std::size_t end = nl;
    if (end > at && offer[end - 1] == '\r') --end;
    text.append(offer, at, end - at).append("\r\n");
    at = nl + 1;
  }
  // Both lines, so that signing again never stacks a second signature.
  for (const char* prefix : {kSignatureLinePrefix, kSignedLinePrefix}) {
    const std::size_t last = text.size() >= 2 ? LineStart(text, text.size() - 2) : 0;
    if (StartsWith(text, last, prefix)) text.erase(last);
  }
  return text;
}

std::string SignedLine(std::int64_t signedAt, const std::string& keyId) {
  return std::string(kSignedLinePrefix) + UtcTimeText(signedAt) + kKeyField + keyId + "\r\n";
}

std::string SignatureLine(const std::string& der) {
  return std::string(kSignatureLinePrefix) + Base64Encode(der) + "\r\n";
}

bool ParseUtcTime(const std::string& text, std::int64_t& seconds) {
  static const char shape[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kTimeLength) return false;
  for (std::size_t i = 0; i < kTimeLength; ++i)
    if (shape[i] == 'd' ? !IsDigit(text[i]) : text[i] != shape[i]) return false;
  auto number = [&](std::size_t at, std::size_t digits) {
    int n = 0;
    for (std::size_t i = 0; i < digits; ++i) n = n * 10 + (text[at + i] - '0');
    return n;
  };
  const int y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2),
            s = number(17, 2);
  if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || s > 59) return false;
  seconds = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

std::string UtcTimeText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t rest = seconds % 86400;
  int year = 0, month = 0, day = 0;
  CivilFromDays(seconds / 86400, year, month, day);
  char text[112];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02lld:%02lld:%02lldZ", year, month, day,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return text;
}

bool ParseSha256Hex(const std::string& text, std::string& digest) {
  unsigned char bytes[plat::kSha256Size];
  if (!ParseHex(text, bytes, sizeof bytes)) return false;
  digest.assign(reinterpret_cast<const char*>(bytes), sizeof bytes);
  return true;
}

std::string LowerHex(const std::string& bytes) { return HexText(bytes.data(), bytes.size()); }

std::string Base64Encode(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
    for (std::size_t k = 0; k < 4; ++k) text += k <= n ? kBase64[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return text;
}

bool Base64Decode(const std::string& text, std::string& bytes) {
  if (text.size() % 4 != 0) return false;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t v = 0;
    int padding = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      int value;
      if (c == '=') {
        // Padding only in the last two places of the last group.
        if (i + 4 != text.size() || k < 2) return false;
        ++padding;
        value = 0;
      } else {
        if (padding) return false;
        const char* at = c ? std::char_traits<char>::find(kBase64, 64, c) : nullptr;
        if (!at) return false;
        value = static_cast<int>(at - kBase64);
      }
      v = v << 6 | static_cast<std::uint32_t>(value);
    }
    // Bits the padding leaves over must be zero: one text per byte string.
    if ((padding == 1 && (v & 0xFF)) || (padding == 2 && (v & 0xFFFF))) return false;
    out += static_cast<char>(v >> 16);
    if (padding < 2) out += static_cast<char>(v >> 8 & 0xFF);
    if (padding < 1) out += static_cast<char>(v & 0xFF);
  }
  bytes = out;
  return true;
}

}  // namespace havrek
