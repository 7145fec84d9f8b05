// What the benchmarks share: a clock, a repeatable random source, file
// contents of typical kinds, and the smallest stub image the writer takes.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>

#include "platform/Platform.h"

namespace havrek::bench {

inline double Seconds(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The same bytes on every run, so that runs and machines compare.
struct Rng {
  std::uint64_t s;
  std::uint32_t next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(s >> 33);
  }
};

// Opcode-like bytes: a few frequent patterns with random operands.
inline void ExeLike(std::string& out, std::size_t n, Rng& r) {
  static const unsigned char ops[][3] = {{0x8B, 0x45, 0}, {0x89, 0x44, 0x24}, {0xE8, 0, 0}, {0x83, 0xC4, 0},
                                         {0x55, 0x8B, 0xEC}, {0xFF, 0x15, 0}, {0x33, 0xC0, 0}, {0xC3, 0, 0}};
  while (out.size() < n) {
    const auto* op = ops[r.next() % 8];
    out.append(reinterpret_cast<const char*>(op), 3);
    const std::uint32_t operand = r.next() % 4 == 0 ? r.next() : r.next() & 0xFF;
    out.append(reinterpret_cast<const char*>(&operand), r.next() % 2 ? 4 : 1);
  }
  out.resize(n);
}

// Already compressed data (pictures, archives): does not shrink.
inline void Random(std::string& out, std::size_t n, Rng& r) {
  out.resize(n);
  for (std::size_t i = 0; i + 4 <= n; i += 4) {
    const std::uint32_t v = r.next();
    std::memcpy(out.data() + i, &v, 4);
  }
}

// Makes the folders on the way.
inline bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  const plat::File f(path.string(), plat::OpenMode::Create);
  return f && f.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// "MZ" at 0 and "PE" at 256: all the writer asks of a stub image.
inline std::string Stub() {
  std::string stub(4096, '\0');
  stub.replace(0, 2, "MZ");
  stub.replace(256, 4, std::string("PE\0\0", 4));
  return stub;
}

// The options every benchmark takes: --size=MB --reps=N --dir=PATH
// --strict; own ones (--quick first) go to own, which answers whether it
// took them. The scratch folder is made empty under dir and removed at the
// end. False after printing the unknown option.
struct BenchRun {
  std::int64_t total = 0;  // bytes of generated files
  int reps = 1;
  bool strict = false;     // exit 1 when a target is missed
  std::filesystem::path dir;

  BenchRun(std::int64_t defaultTotal, int defaultReps, const char* name)
      : total(defaultTotal), reps(defaultReps), name_(name) {
    dir = std::filesystem::temp_directory_path() / Scratch();
  }
  BenchRun(const BenchRun&) = delete;
  BenchRun& operator=(const BenchRun&) = delete;
  ~BenchRun() {
    std::error_code ec;
    if (made_) std::filesystem::remove_all(dir, ec);
  }

  bool Read(int argc, char** argv, const std::function<bool(const std::string&)>& own) {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      if (own(a)) continue;
      if (a.rfind("--size=", 0) == 0) {
        total = std::atoll(a.c_str() + 7) << 20;
      } else if (a.rfind("--reps=", 0) == 0) {
        reps = std::max(1, std::atoi(a.c_str() + 7));
      } else if (a.rfind("--dir=", 0) == 0) {
        dir = std::filesystem::path(a.substr(6)) / Scratch();
      } else if (a == "--strict") {
        strict = true;
      } else {
        std::fprintf(stderr, "unknown option %s\n", a.c_str());
        return false;
      }
    }
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    made_ = true;
    return true;
  }

 private:
  std::string Scratch() const { return std::string(name_) + "_" + std::to_string(::getpid()); }
  const char* name_;
  bool made_ = false;
};

}  // namespace havrek::bench
