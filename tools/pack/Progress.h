// The build's progress line on standard error: files, MB in, MB out, redrawn
// in place at most ten times a second. Silent when standard error is no
// terminal, so logs and pipes get nothing extra.
#pragma once

#include <chrono>
#include <functional>

#include "package/PackWriter.h"

namespace havrek {

class ProgressLine {
 public:
  ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // For PackOptions::progress; empty when standard error is no terminal.
  std::function<void(const PackProgress&)> Callback();
  // Ends the line, so that what follows starts on a line of its own.
  void End();

 private:
  void Show(const PackProgress& p);

  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace havrek
