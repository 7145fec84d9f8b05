#include "context/StubContext.h"

#include "package/PackX.h"

namespace havrek {
namespace {

std::unique_ptr<TGFileInfo> ownPackage;
bool autoUpdateProg = false;
int exitCode = 0;
MainWindowFace face;

}  // namespace

TGFileInfo& OwnPackage() {
  static TGFileInfo empty;
  return ownPackage ? *ownPackage : empty;
}

void SetOwnPackage(std::unique_ptr<TGFileInfo> package) { ownPackage = std::move(package); }

bool IsAutoUpdateProg() { return autoUpdateProg; }
void SetAutoUpdateProg(bool autoUpdate) { autoUpdateProg = autoUpdate; }

int ExitCode() { return exitCode; }
void SetExitCode(int code) { exitCode = code; }

MainWindowFace& MainFace() { return face; }

HWND MainWindowHandle() { return face.window; }
HWND StatusLine() { return face.statusLine; }
HWND ActivityBar() { return face.activityBar; }

void SetStatusText(HWND control, const std::string& text, const std::string& fontFace, int points, int charset) {
  if (face.setStatusText) face.setStatusText(control, text, fontFace, points, charset);
}

void ProgressSink(int kind, int reserved, int maximum, int position, int step, const std::string& text) {
  if (face.progress) face.progress(kind, reserved, maximum, position, step, text);
}

void StopMainTimer() {
  if (face.stopTimer) face.stopTimer();
}

}  // namespace havrek
