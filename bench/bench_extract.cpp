// Extraction benchmark. Every figure is a ratio against a baseline measured
// in the same run:
//   speed   Extract on a generated package (text-like, executable-like and
//           random files) against plain zlib inflation plus writing of the
//           same entries; target: at least 0.9.
//   verify  Extract checking the package's integrity records against the
//           same walk with the check off; target: at most 1.10 (the check
//           costs at most a tenth of the extraction).
//   growth  a single entry of zeros expanded by InflateBuffer at 1/4, 1/2
//           and the full size (linear: time per MB stays flat), and against
//           the old growth by fixed steps of the compressed size.
//   memory  peak resident memory of a child process that extracts the
//           package, less that of the same program doing nothing, over the
//           largest entry's expanded size; target: at most 2.2.
//   header  a compressed entry of 64 MB without the NUL that ends its
//           header: refused as damaged with a peak resident memory under
//           16 MB, and its share over the idle program against the entry.
//
// Full run (about 200 MB of files and a 200 MB entry of zeros):
//   build/native/bench/bench_extract
// Quick run (what ctest does): bench_extract --quick
// Options: --size=MB --zeros=MB --reps=N --dir=PATH --strict (exit 1 when a
// target is missed).
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "package/PackWriter.h"
#include "BenchData.h"
#include "package/PackX.h"
#include "package/UnPack.h"
#include "SealedPackage.h"
#include "package/ZLibOpen.h"
#include "platform/Platform.h"

using namespace havrek;
using namespace havrek::bench;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t MB = 1 << 20;

// ---- Generated sources ----

void TextLike(std::string& out, std::size_t n, Rng& r) {
  static const char* const words[] = {"the", "setup", "file", "of", "a", "program", "is", "written", "into",
                                      "folder", "and", "run", "with", "its", "arguments", "when", "ready",
                                      "Windows", "version", "update", "agent", "package", "entry", "data"};
  while (out.size() < n) {
    out += words[r.next() % (sizeof words / sizeof *words)];
    out += (r.next() % 11 == 0) ? "\r\n" : " ";
  }
  out.resize(n);
}

// ---- Baseline: plain zlib inflation plus writing, no checks ----

void BaselineExtract(const std::string& package, const fs::path& target) {
  fs::create_directories(target);
  TPackageHeader h{};
  ReadPackageHeader(package, h);
  const int fd = ::open(package.c_str(), O_RDONLY);
  const std::int64_t end = ::lseek(fd, 0, SEEK_END) - PackageHeaderSize;
  std::int64_t pos = h.payloadStart;
  std::vector<char> in, out(1 << 20);
  int blocks = 0;
  while (pos + 4 <= end) {
    std::int32_t length;
    if (::pread(fd, &length, 4, pos) != 4) break;
    const std::int64_t n = length < 0 ? -static_cast<std::int64_t>(length) : length;
    in.resize(static_cast<std::size_t>(n));
    if (::pread(fd, in.data(), static_cast<std::size_t>(n), pos + 4) != n) break;
    pos += 4 + n;
    if (++blocks <= h.blockCount) continue;

    int file = -1;
    bool skip = false;  // an empty header: the integrity record
    auto put = [&](const char* p, std::size_t count) {
      if (skip) return;
      if (file < 0) {
        const char* nul = static_cast<const char*>(std::memchr(p, 0, count));
        std::string header(p, nul);
        if ((skip = header.empty())) return;
        const std::string name = header.substr(1, header.find('|', 1) - 1);
        file = ::open((target / name).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        count -= nul + 1 - p;
        p = nul + 1;
      }
      if (count > 0 && ::write(file, p, count) != static_cast<ssize_t>(count)) std::abort();
    };
    if (length <= 0) {
      put(in.data(), in.size());
    } else {
      z_stream s{};
      inflateInit(&s);
      s.next_in = reinterpret_cast<Bytef*>(in.data());
      s.avail_in = static_cast<uInt>(in.size());
      int rc;
      do {
        s.next_out = reinterpret_cast<Bytef*>(out.data());
        s.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&s, Z_NO_FLUSH);
        put(out.data(), out.size() - s.avail_out);
      } while (rc == Z_OK);
      inflateEnd(&s);
    }
    if (file >= 0) ::close(file);
  }
  ::close(fd);
}

// ---- The old growth: fixed steps of the compressed size ----

// As the stub once grew its buffer. moving: every step takes a new block and
// copies, as allocators do that cannot extend a large block in place (the C
// library here remaps pages instead, which hides most of the cost).
std::size_t FixedStepInflate(const std::string& z, bool moving) {
  const std::size_t step = (z.size() + 255) & ~std::size_t{255};
  std::size_t size = step;
  char* buf = static_cast<char*>(std::malloc(size));
  z_stream s{};
  inflateInit(&s);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(z.data()));
  s.avail_in = static_cast<uInt>(z.size());
  s.next_out = reinterpret_cast<Bytef*>(buf);
  s.avail_out = static_cast<uInt>(size);
  while (inflate(&s, Z_NO_FLUSH) == Z_OK) {
    const std::size_t total = size - s.avail_out;
    size += step;
    if (moving) {
      char* grown = static_cast<char*>(std::malloc(size));
      std::memcpy(grown, buf, total);
      std::free(buf);
      buf = grown;
    } else {
      buf = static_cast<char*>(std::realloc(buf, size));
    }
    s.next_out = reinterpret_cast<Bytef*>(buf + total);
    s.avail_out = static_cast<uInt>(size - total);
  }
  const std::size_t total = size - s.avail_out;
  inflateEnd(&s);
  std::free(buf);
  return total;
}

std::string Deflate(const std::string& plain, int level = 6) {
  uLongf n = compressBound(static_cast<uLong>(plain.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(plain.data()),
            static_cast<uLong>(plain.size()), level);
  z.resize(n);
  return z;
}

// The stub, two empty header blocks, one compressed entry of the given
// content and a header whose checksum always passes: the writer itself
// never lays an entry without its NUL.
std::string PackageOfOneEntry(const std::string& content) {
  const std::string z = Deflate(content, 9);
  const auto word = [](std::uint32_t w) { return std::string(reinterpret_cast<const char*>(&w), 4); };
  return test::SealPackage(Stub() + word(0) + word(0) + word(static_cast<std::uint32_t>(z.size())) + z, 4096, 1);
}

// ---- Peak memory of a child that only extracts ----

// The high-water mark of this process's own memory. Read from inside: a
// parent's view through wait4 would include what the forked child shared
// with it before exec.
long PeakKB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
  std::fclose(f);
  return kb;
}

long ChildPeakKB(const char* self, const std::string& args) {
  FILE* p = ::popen(("'" + std::string(self) + "' " + args).c_str(), "r");
  if (!p) return -1;
  long kb = -1;
  if (std::fscanf(p, "%ld", &kb) != 1) kb = -1;
  return ::pclose(p) == 0 ? kb : -1;
}

bool SameTree(const fs::path& a, const fs::path& b) {
  std::vector<fs::path> names;
  for (const auto& e : fs::directory_iterator(a)) names.push_back(e.path().filename());
  std::size_t countB = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(b)) ++countB;
  if (names.size() != countB) return false;
  for (const fs::path& name : names) {
    const std::string x = [&] {
      std::string s(fs::file_size(a / name), '\0');
      const plat::File f((a / name).string(), plat::OpenMode::Read);
      f.readExact(s.data(), static_cast<std::int64_t>(s.size()));
      return s;
    }();
    std::string y(x.size(), '\0');
    const plat::File f((b / name).string(), plat::OpenMode::Read);
    if (!fs::exists(b / name) || fs::file_size(b / name) != x.size() ||
        !f.readExact(y.data(), static_cast<std::int64_t>(y.size())) || x != y)
      return false;
  }
  return true;
}

const char* Verdict(bool ok) { return ok ? "met" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child-extract") == 0) {
    ExtractRequest r;
    r.packageFile = argv[2];
    r.targetFolder = argv[3];
    if (Extract(r, {}).failedSaves != 0) return 1;
    std::printf("%ld\n", PeakKB());
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "--child-damaged") == 0) {
    ExtractRequest r;
    r.packageFile = argv[2];
    r.targetFolder = argv[3];
    if (!Extract(r, {}).damaged) return 1;
    std::printf("%ld\n", PeakKB());
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--child-idle") == 0) {
    std::printf("%ld\n", PeakKB());
    return 0;
  }

  std::int64_t zeros = 200 * MB;
  BenchRun run(200 * MB, 5, "havrek_bench");
  const bool read = run.Read(argc, argv, [&](const std::string& a) {
    if (a == "--quick") {
      run.total = 16 * MB;
      zeros = 32 * MB;
      run.reps = 1;
    } else if (a.rfind("--zeros=", 0) == 0) {
      zeros = std::atoll(a.c_str() + 8) * MB;
    } else {
      return false;
    }
    return true;
  });
  if (!read) return 2;
  const std::int64_t total = run.total;
  const int reps = run.reps;
  const bool strict = run.strict;
  const fs::path dir = run.dir;
  fs::create_directories(dir / "src");

  // ---- Sources and the package ----
  PackOptions o;
  o.stubPath = (dir / "stub.exe").string();
  o.outPath = (dir / "setup.exe").string();
  o.level = 6;
  WriteFile(o.stubPath, Stub());
  Rng rng{42};
  const std::int64_t third = total / 3;
  struct Kind {
    const char* name;
    void (*make)(std::string&, std::size_t, Rng&);
    int files;
  };
  std::int64_t largest = 0;
  for (const Kind& k : {Kind{"text", TextLike, 4}, Kind{"exe", ExeLike, 3}, Kind{"random", Random, 2}}) {
    for (int i = 0; i < k.files; ++i) {
      // Uneven sizes, so some files are split and some are not.
      const std::int64_t size = third * (i + 1) * 2 / (k.files * (k.files + 1));
      std::string bytes;
      k.make(bytes, static_cast<std::size_t>(size), rng);
      const std::string name = std::string(k.name) + std::to_string(i) + ".bin";
      WriteFile(dir / "src" / name, bytes);
      PackFile f;
      f.source = (dir / "src" / name).string();
      f.target = name;
      o.files.push_back(f);
      largest = std::max(largest, std::min<std::int64_t>(size, o.splitSize));
    }
  }
  const PackResult packed = WritePackage(o);
  if (!packed.ok) {
    std::fprintf(stderr, "packing failed: %s\n", packed.error.c_str());
    return 2;
  }
  const double packageMB = static_cast<double>(fs::file_size(o.outPath)) / MB;
  std::printf("package: %.1f MB of files in %lld entries, %.1f MB stored, largest entry %.1f MB\n",
              static_cast<double>(total) / MB, static_cast<long long>(packed.entries), packageMB,
              static_cast<double>(largest) / MB);

  // ---- Speed ----
  const fs::path ours = dir / "ours", base = dir / "base";
  double tOurs = 1e30, tBase = 1e30, tUnchecked = 1e30;
  auto extract = [&](bool verify) {
    ExtractRequest r;
    r.packageFile = o.outPath;
    r.targetFolder = ours.string();
    r.verify = verify;
    if (Extract(r, {}).damaged) std::abort();
  };
  // Alternating runs, the best of each; the previous run's files are flushed
  // first, so that neither side pays for the other's write-back.
  for (int i = 0; i < reps; ++i) {
    fs::remove_all(base);
    ::sync();
    tBase = std::min(tBase, Seconds([&] { BaselineExtract(o.outPath, base); }));
    // Checked and unchecked take turns at going first.
    for (const bool verify : {i % 2 == 0, i % 2 != 0}) {
      fs::remove_all(ours);
      ::sync();
      double& best = verify ? tOurs : tUnchecked;
      best = std::min(best, Seconds([&] { extract(verify); }));
    }
  }
  if (!SameTree(dir / "src", ours) || !SameTree(dir / "src", base)) {
    std::fprintf(stderr, "extracted files differ from the sources\n");
    return 1;
  }
  fs::remove_all(base);
  fs::remove_all(ours);
  const double speed = tBase / tOurs;
  std::printf("speed:  Extract %.3f s (%.0f MB/s), zlib+write %.3f s (%.0f MB/s): ratio %.2f (target >= 0.90: %s)\n",
              tOurs, static_cast<double>(total) / MB / tOurs, tBase, static_cast<double>(total) / MB / tBase, speed,
              Verdict(speed >= 0.9));
  // The digest alone over the package file, for scale.
  const double tDigest = Seconds([&] {
    const plat::File f(o.outPath, plat::OpenMode::Read);
    plat::Sha256 hash;
    std::string piece(static_cast<std::size_t>(MB), '\0');
    for (std::int64_t got; (got = f.read(piece.data(), MB)) > 0;) hash.update(piece.data(), got);
    unsigned char digest[plat::kSha256Size];
    if (!hash.final(digest)) std::abort();
  });
  const double verify = tOurs / tUnchecked;
  std::printf("verify: Extract checking the records %.3f s, unchecked %.3f s: ratio %.2f (target <= 1.10: %s); "
              "SHA-256 alone over the %.1f MB package %.3f s\n",
              tOurs, tUnchecked, verify, Verdict(verify <= 1.10), packageMB, tDigest);

  // ---- Growth on an entry of zeros ----
  double tFull = 0, tQuarter = 0;
  for (const std::int64_t size : {zeros / 16, zeros / 4, zeros / 2, zeros}) {
    const std::string z = Deflate(std::string(static_cast<std::size_t>(size), '\0'));
    auto timed = [&](const std::function<std::size_t()>& inflate, int times) {
      double best = 1e30;
      for (int i = 0; i < times; ++i)
        best = std::min(best, Seconds([&] {
                          if (inflate() != static_cast<std::size_t>(size)) std::abort();
                        }));
      return best;
    };
    // Cheap and noisy: more repetitions than the rest.
    const double t = timed([&] { return InflateBuffer(z.data(), z.size()).size; }, std::max(reps, 5));
    std::printf("growth: %5.1f MB of zeros from %lld bytes: %.3f s (%.2f ms/MB)\n",
                static_cast<double>(size) / MB, static_cast<long long>(z.size()), t,
                t * 1000 * MB / static_cast<double>(size));
    const long long step = static_cast<long long>((z.size() + 255) & ~std::size_t{255});
    if (size == zeros / 16) {
      const double tMoving = timed([&] { return FixedStepInflate(z, true); }, 1);
      std::printf("growth:   fixed steps of %lld bytes, copying buffer: %.3f s, %.1f times slower\n", step, tMoving,
                  tMoving / t);
    }
    if (size == zeros / 4) tQuarter = t;
    if (size == zeros) {
      tFull = t;
      const double tRealloc = timed([&] { return FixedStepInflate(z, false); }, 1);
      std::printf("growth:   fixed steps of %lld bytes, C library realloc: %.3f s, %.1f times slower\n", step,
                  tRealloc, tRealloc / t);
    }
  }
  const double linear = tFull / (4 * tQuarter);
  std::printf("growth: full size over 4 x a quarter: %.2f (linear is about 1; target <= 1.5: %s)\n", linear,
              Verdict(linear <= 1.5));

  // ---- Memory ----
  const long idleKB = ChildPeakKB(argv[0], "--child-idle");
  const long peakKB = ChildPeakKB(argv[0], "--child-extract '" + o.outPath + "' '" + (dir / "mem").string() + "'");
  fs::remove_all(dir / "mem");
  // What the extraction adds to the footprint of the same program doing nothing.
  auto ratio = [idleKB](long kb, std::int64_t entry) {
    return static_cast<double>(kb - idleKB) * 1024 / static_cast<double>(entry);
  };
  const double memory = ratio(peakKB, largest);
  std::printf("memory: peak %.1f MB over an idle %.1f MB for a largest entry of %.1f MB: ratio %.2f (target <= 2.20: %s)\n",
              peakKB / 1024.0, idleKB / 1024.0, static_cast<double>(largest) / MB, memory, Verdict(memory <= 2.2));

  // One entry of zeros through the whole walk.
  PackOptions oz = o;
  oz.outPath = (dir / "zeros.exe").string();
  oz.splitSize = std::min(zeros, MaxSplitSize);
  {
    const plat::File f((dir / "src" / "zeros.bin").string(), plat::OpenMode::Create);
    const std::string chunk(static_cast<std::size_t>(MB), '\0');
    for (std::int64_t i = 0; i < zeros / MB; ++i) f.writeAll(chunk.data(), MB);
  }
  PackFile zf;
  zf.source = (dir / "src" / "zeros.bin").string();
  zf.target = "zeros.bin";
  oz.files = {zf};
  if (!WritePackage(oz).ok) return 2;
  fs::remove((dir / "src" / "zeros.bin"));
  const long zerosKB = ChildPeakKB(argv[0], "--child-extract '" + oz.outPath + "' '" + (dir / "memz").string() + "'");
  const double zerosRatio = ratio(zerosKB, zeros);
  std::printf("memory: peak %.1f MB for one %lld MB entry of zeros: ratio %.2f (target <= 2.20: %s)\n",
              zerosKB / 1024.0, static_cast<long long>(zeros / MB), zerosRatio, Verdict(zerosRatio <= 2.2));

  // An entry whose header never ends.
  constexpr std::int64_t kNoNul = 64 * MB;
  const fs::path noNul = dir / "nonul.exe";
  WriteFile(noNul, PackageOfOneEntry(std::string(static_cast<std::size_t>(kNoNul), 'h')));
  const long noNulKB = ChildPeakKB(argv[0], "--child-damaged '" + noNul.string() + "' '" + (dir / "memn").string() + "'");
  const bool noNulMet = noNulKB > 0 && noNulKB < 16 * 1024;
  std::printf("header: %lld MB entry without its NUL%s: peak %.1f MB (target < 16 MB: %s), %.1f MB over idle: ratio "
              "%.3f to the entry\n",
              static_cast<long long>(kNoNul / MB), noNulKB > 0 ? " refused as damaged" : " NOT REFUSED",
              noNulKB / 1024.0, Verdict(noNulMet), (noNulKB - idleKB) / 1024.0, ratio(noNulKB, kNoNul));

  const bool allMet = speed >= 0.9 && verify <= 1.10 && linear <= 1.5 && memory <= 2.2 && zerosRatio <= 2.2 && peakKB > 0 &&
                      zerosKB > 0 && noNulMet;
  return strict && !allMet ? 1 : 0;
}
