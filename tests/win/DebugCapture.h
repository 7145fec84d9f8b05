// What the debug channel sends while a test watches, still passed on to the
// file and the viewer as the process would have sent it.
#pragma once

#include <string>

#include "diag/HDebug.h"
#include "diag/HDebugWin.h"

namespace havrek::test {

inline std::string& CapturedDebug() {
  static std::string text;
  return text;
}

inline void PassDebugOn(const std::string& piece) {
  if (DebugMode() != 0) AppendDebugFile(kDebugFilePath, piece);
  if (DebugMode() != 1) SendToDebugViewer(piece);
}

inline void CaptureDebug(const std::string& piece) {
  CapturedDebug() += piece;
  PassDebugOn(piece);
}

// Captures from construction to destruction; the text starts empty.
class DebugCapture {
 public:
  DebugCapture() {
    CapturedDebug().clear();
    SetDebugTarget(&CaptureDebug);
  }
  ~DebugCapture() { SetDebugTarget(&PassDebugOn); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
  const std::string& text() const { return CapturedDebug(); }
};

}  // namespace havrek::test
