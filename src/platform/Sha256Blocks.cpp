#include "platform/Sha256Blocks.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define HAVREK_SHA_X86 1
#endif

namespace havrek::plat {

namespace {

alignas(16) constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t BigEndian32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void BlocksPortable(std::uint32_t (&state)[8], const unsigned char* data, std::size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = BigEndian32(data + 4 * t);
    for (int t = 16; t < 64; ++t) {
      const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
      const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
  }
}

#ifdef HAVREK_SHA_X86

// The SHA instructions keep the state as two vectors, ABEF and CDGH, and
// take four rounds' message words plus constants at a time.
__attribute__((target("sha,sse4.1,ssse3"))) void BlocksSha(std::uint32_t (&state)[8], const unsigned char* data,
                                                           std::size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i w[16];
    for (int i = 0; i < 16; ++i) {
      if (i < 4) {
        w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
      } else {
        const __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(w[i - 4], w[i - 3]),
                                          _mm_alignr_epi8(w[i - 1], w[i - 2], 4));
        w[i] = _mm_sha256msg2_epu32(sum, w[i - 1]);
      }
      __m128i words = _mm_add_epi32(w[i], _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * i])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
      words = _mm_shuffle_epi32(words, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}

#endif

}  // namespace

bool CpuHasShaInstructions() {
#ifdef HAVREK_SHA_X86
  static const bool has = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3 && sse41 && (b & (1u << 29)) != 0;
  }();
  return has;
#else
  return false;
#endif
}

void Sha256Blocks(Sha256Path path, std::uint32_t (&state)[8], const unsigned char* data, std::size_t blocks) {
#ifdef HAVREK_SHA_X86
  if (path == Sha256Path::cpuInstructions) return BlocksSha(state, data, blocks);
#endif
  (void)path;
  BlocksPortable(state, data, blocks);
}

Sha256Stream::Sha256Stream()
    : Sha256Stream(CpuHasShaInstructions() ? Sha256Path::cpuInstructions : Sha256Path::portable) {}

Sha256Stream::Sha256Stream(Sha256Path path) : path_(path) { std::memcpy(state_, kInitial, sizeof state_); }

void Sha256Stream::update(const void* data, std::size_t count) {
  auto* p = static_cast<const unsigned char*>(data);
  bytes_ += count;
  if (held_ > 0) {
    const std::size_t take = count < 64 - held_ ? count : 64 - held_;
    std::memcpy(block_ + held_, p, take);
    held_ += take, p += take, count -= take;
    if (held_ < 64) return;
    Sha256Blocks(path_, state_, block_, 1);
    held_ = 0;
  }
  Sha256Blocks(path_, state_, p, count / 64);
  p += count / 64 * 64;
  held_ = count % 64;
  std::memcpy(block_, p, held_);
}

void Sha256Stream::final(unsigned char (&digest)[32]) {
  const std::uint64_t bits = bytes_ * 8;
  // The padding: 0x80, zeros up to 56 bytes into a block, the bit length.
  unsigned char tail[128] = {0x80};
  const std::size_t padding = (held_ < 56 ? 56 : 120) - held_;
  for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  update(tail, padding + 8);
  for (int i = 0; i < 8; ++i)
    for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<unsigned char>(state_[i] >> (24 - 8 * k));
}

}  // namespace havrek::plat
