#include "package/ZLibOpen.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace havrek {
namespace {

std::string Deflate(const std::string& in, const std::string& dictionary = "") {
  z_stream s{};
  deflateInit(&s, 9);
  if (!dictionary.empty())
    deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(dictionary.data()), static_cast<uInt>(dictionary.size()));
  std::string out(deflateBound(&s, static_cast<uLong>(in.size())) + 64, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

std::string Noise(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
  return s;
}

// 1000 stored bytes of mixed text that expand to exactly 10000.
std::string TenThousand() {
  std::string s;
  std::uint32_t x = 7;
  while (s.size() < 10000) {
    s += "line " + std::to_string(s.size() % 97) + " ";
    s.push_back(static_cast<char>('a' + ((x = x * 1103515245 + 12345) >> 27)));
  }
  s.resize(10000);
  return s;
}

TEST(ZLibOpen, ExpandsToExactlyTheStoredBytes) {
  const std::string zeros(5u << 20, '\0');
  const std::string mixed = TenThousand();
  struct Case {
    const char* name;
    std::string plain;
    std::size_t estimate;
  };
  const std::vector<Case> cases = {
      {"empty", "", 0},
      {"one byte", "x", 0},
      {"mixed text", mixed, 0},
      {"estimate exact", mixed, mixed.size()},
      {"estimate too small", mixed, 7},
      {"estimate too large", mixed, 1u << 20},
      {"incompressible", Noise(300000, 3), 0},
      {"highly compressed", zeros, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string z = Deflate(c.plain);
    const InflatedBuffer b = InflateBuffer(z.data(), z.size(), c.estimate);
    ASSERT_EQ(b.size, c.plain.size());
    EXPECT_TRUE(b.size == 0 || std::string(b.data.get(), b.size) == c.plain);
    EXPECT_EQ(InflateText(z), c.plain);

    // In blocks: the same bytes, every block but the last one full.
    constexpr std::size_t kBlock = 4096;
    InflatedBuffer piece;
    std::string joined;
    std::vector<std::size_t> sizes;
    InflatePieces(z.data(), z.size(), piece, kBlock, [&](const char* p, std::size_t n) {
      joined.append(p, n);
      sizes.push_back(n);
    });
    EXPECT_EQ(joined, c.plain);
    ASSERT_FALSE(sizes.empty());
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], kBlock);
    EXPECT_LE(sizes.back(), kBlock);
    EXPECT_EQ(piece.capacity, kBlock);
  }
}

TEST(ZLibOpen, BadStreamsRaiseTheirZlibText) {
  const std::string z = Deflate(TenThousand());
  std::string badAdler = z;
  badAdler.back() ^= 0x01;
  std::string badHeader = z;
  badHeader[0] = 0x12;
  std::string badData = z;
  badData[z.size() / 2] ^= 0x55;
  struct Case {
    const char* name;
    std::string stream;
    std::size_t limit;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"Adler-32 altered", badAdler, kInflateLimit, "data error"},
      {"wrong header", badHeader, kInflateLimit, "data error"},
      {"cut in half", z.substr(0, z.size() / 2), kInflateLimit, "buffer error"},
      {"no input", "", kInflateLimit, "buffer error"},
      // Growing the buffer would never satisfy a stream that wants a dictionary.
      {"preset dictionary", Deflate("dictionary words", "dictionary words"), kInflateLimit, "need dictionary"},
      {"beyond the limit", Deflate(std::string(1u << 20, 'z')), 100000, "insufficient memory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      InflateBuffer(c.stream.data(), c.stream.size(), 0, c.limit);
      ADD_FAILURE() << "no error";
    } catch (const EZLibError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    // In blocks the same text; only full blocks went out before it, so a
    // stream that fits one block reached nobody.
    constexpr std::size_t kBlock = 1 << 16;
    InflatedBuffer piece;
    std::size_t handed = 0;
    try {
      InflatePieces(c.stream.data(), c.stream.size(), piece, kBlock,
                    [&](const char*, std::size_t n) { handed += n; }, c.limit);
      ADD_FAILURE() << "no error in blocks";
    } catch (const EZLibError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(handed % kBlock, 0u);
  }
  // A damaged middle raises something; which code depends on where it lands.
  EXPECT_THROW(InflateText(badData), EZLibError);
}

TEST(ZLibOpen, ExpansionUpToTheLimitIsAllowed) {
  const std::string plain(100000, 'z');
  const std::string z = Deflate(plain);
  EXPECT_EQ(InflateBuffer(z.data(), z.size(), 0, plain.size()).size, plain.size());
}

TEST(ZLibOpen, OneBufferServesStreamAfterStream) {
  const std::string big = TenThousand() + TenThousand(), small = "small";
  const std::string bad = Deflate(small).substr(0, 4);
  InflatedBuffer out;
  for (const std::string* plain : {&small, &big, &small, &bad, &big}) {
    if (plain == &bad) {
      EXPECT_THROW(InflateInto(bad.data(), bad.size(), out), EZLibError);
      EXPECT_EQ(out.size, 0u);
      continue;
    }
    const std::string z = Deflate(*plain);
    InflateInto(z.data(), z.size(), out);
    ASSERT_EQ(out.size, plain->size());
    EXPECT_EQ(std::string(out.data.get(), out.size), *plain);
    EXPECT_GE(out.capacity, out.size);
  }
  // Grown once for the large stream, then kept.
  EXPECT_LT(out.capacity, 2 * big.size());
}

TEST(ZLibOpen, AThousandfoldExpansionGrowsItsBufferAFewTimes) {
  // 16 MB from about 16 KB: growing by a step of the input's size would take
  // a thousand reallocations, each copying all that came before.
  const std::string z = Deflate(std::string(16u << 20, '\0'));
  ASSERT_LT(z.size(), 20000u);
  InflatedBuffer grown;
  InflateInto(z.data(), z.size(), grown);
  EXPECT_EQ(grown.size, 16u << 20);
  EXPECT_LE(grown.reallocations, 32u);
  const InflatedBuffer whole = InflateBuffer(z.data(), z.size());
  EXPECT_EQ(whole.size, 16u << 20);
  EXPECT_LE(whole.reallocations, 32u);
}

TEST(ZLibOpen, ZCheckPassesResultsAndRaisesErrors) {
  EXPECT_EQ(ZCheck(Z_OK), 0);
  EXPECT_EQ(ZCheck(Z_STREAM_END), 1);
  EXPECT_EQ(ZCheck(Z_NEED_DICT), 2);
  const std::vector<std::pair<int, std::string>> errors = {
      {Z_ERRNO, "file error"},          {Z_STREAM_ERROR, "stream error"}, {Z_DATA_ERROR, "data error"},
      {Z_MEM_ERROR, "insufficient memory"}, {Z_BUF_ERROR, "buffer error"}, {Z_VERSION_ERROR, "incompatible version"}};
  for (const auto& [code, text] : errors) {
    try {
      ZCheck(code);
      ADD_FAILURE() << code;
    } catch (const EZLibError& e) {
      EXPECT_EQ(e.what(), text);
    }
  }
  EXPECT_EQ(ZErrorText(-7), "");
  EXPECT_EQ(ZErrorText(3), "");
}

}  // namespace
}  // namespace havrek
