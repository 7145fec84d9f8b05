#include "package/TokenCodec.h"

#include <random>
#include <vector>

#include "util/Fnv1a.h"
#include "util/Utils.h"

namespace havrek {

namespace {

// Each hex digit is shifted by this much, so that the text shows no digits.
constexpr int kDigitShift = 50;

}  // namespace

std::string EncodeToken(const std::string& token, int p, int q, std::uint32_t seed) {
  if (token.empty() || p < 0 || p > 255 || q < 1 || q > 255) return {};
  std::mt19937 rng(seed);
  auto randomByte = [&rng] { return static_cast<unsigned char>(rng() & 0xFF); };

  const unsigned char key = randomByte();
  std::vector<unsigned char> b;
  b.push_back(randomByte());
  b.push_back(static_cast<unsigned char>(p));
  b.push_back(static_cast<unsigned char>(q));
  for (int i = 0; i < p; ++i) b.push_back(randomByte());
  b.insert(b.end(), token.begin(), token.end());
  // The checksum byte is the last of the q bytes after the token.
  for (int i = 1; i < q; ++i) b.push_back(randomByte());
  for (std::size_t i = 1; i < b.size(); ++i) b[i] ^= key;
  b.push_back(0);
  b.push_back(static_cast<unsigned char>(b[0] ^ key));
  unsigned sum = 0;
  for (std::size_t i = 0; i < b.size(); ++i)
    if (i != b.size() - 2) sum += b[i];
  b[b.size() - 2] = static_cast<unsigned char>(sum & 0xFF);

  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : b) {
    text.push_back(static_cast<char>(digits[c >> 4] + kDigitShift));
    text.push_back(static_cast<char>(digits[c & 15] + kDigitShift));
  }
  return text;
}

std::string EncodeToken(const std::string& token) {
  // Any spread will do, as long as it is the same on every machine.
  const std::uint64_t h = Fnv1a64(token);
  return EncodeToken(token, 1 + static_cast<int>(h % 16), 1 + static_cast<int>((h >> 4) % 16),
                     static_cast<std::uint32_t>(h >> 32));
}

bool TryDecodeToken(const std::string& text, std::string& token) {
  std::string shifted = text;
  for (char& c : shifted) c = static_cast<char>(static_cast<unsigned char>(c) - kDigitShift);

  std::vector<unsigned char> b;
  std::size_t i = 0;
  do {
    b.push_back(static_cast<unsigned char>(HexToInt(shifted.substr(i, 2)) & 0xFF));
    i += 2;
  } while (i < shifted.size());

  const std::size_t n = b.size();
  if (n <= 4) return false;
  unsigned sum = 0;
  for (std::size_t k = 0; k < n; ++k)
    if (k != n - 2) sum += b[k];
  if ((sum & 0xFF) != b[n - 2]) return false;

  const unsigned char key = b[0] ^ b[n - 1];
  for (std::size_t k = 1; k + 1 < n; ++k) b[k] ^= key;
  const std::int64_t p = b[1], q = b[2];
  const std::int64_t length = static_cast<std::int64_t>(n) - p - q - 4;
  if (length <= 0) return false;
  token.assign(reinterpret_cast<const char*>(b.data()) + p + 3, static_cast<std::size_t>(length));
  return true;
}

std::string DecodeToken(const std::string& text) {
  std::string token;
  if (TryDecodeToken(text, token)) return token;
  return RandomTextInRange(0, 99998);
}

bool SameToken(const std::string& encodedA, const std::string& encodedB) {
  std::string a, b;
  return TryDecodeToken(encodedA, a) && TryDecodeToken(encodedB, b) && a == b;
}

}  // namespace havrek
