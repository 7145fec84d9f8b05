// The progress notifier of downloads: forwards the range and every step to
// the procedure it was made with (the main window's ProgressSink) and keeps
// the windows alive around each notification.
#pragma once

#include <string>

namespace havrek {

// mode 0: range 0..maximum, position and step size; mode 1: one step, with
// the text that goes with it. The reserved argument is always 0.
using ProgressProc = void (*)(int mode, int reserved, int maximum, int position, int step, const std::string& text);

class TProgBar {
 public:
  explicit TProgBar(ProgressProc sink) : sink_(sink) {}

  void SetProgress(int position, int maximum);
  void SetText(const std::string& text);

 private:
  ProgressProc sink_ = nullptr;
};

}  // namespace havrek
