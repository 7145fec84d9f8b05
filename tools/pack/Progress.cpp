#include "Progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace havrek {

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

double Mb(std::int64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

}  // namespace

ProgressLine::ProgressLine() : terminal_(StderrIsTerminal()) {}

std::function<void(const PackProgress&)> ProgressLine::Callback() {
  if (!terminal_) return {};
  return [this](const PackProgress& p) { Show(p); };
}

void ProgressLine::Show(const PackProgress& p) {
  const auto now = std::chrono::steady_clock::now();
  const bool last = p.files == p.totalFiles;
  if (shown_ && !last && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  shown_ = true;
  std::fprintf(stderr, "\r%lld/%lld files, %.1f/%.1f MB in, %.1f MB out ", static_cast<long long>(p.files),
               static_cast<long long>(p.totalFiles), Mb(p.bytesIn), Mb(p.totalIn), Mb(p.bytesOut));
  std::fflush(stderr);
}

void ProgressLine::End() {
  if (shown_) std::fputc('\n', stderr);
  shown_ = false;
}

}  // namespace havrek
