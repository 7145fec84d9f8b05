#include "ui/UiKitWin.h"

#include <cstring>

#include "diag/HDebug.h"
#include "util/UtilsWaitWin.h"

namespace havrek {

void KeepRichEditLoaded() {
  static bool kept = false;
  if (kept) return;
  kept = true;
  LoadDllProc(kRichEditLibrary, "");
}

GdiObject CreateSwissFont(const std::string& face, int height, int charset) {
  LOGFONTA lf = {};
  lf.lfHeight = height;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = static_cast<BYTE>(charset);
  lf.lfPitchAndFamily = FF_SWISS;
  std::strncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return GdiObject(::CreateFontIndirectA(&lf));
}

void RunModalLoop(const bool& done, HWND window, bool (*offer)(const MSG&), const char* routine) {
  bool quit = false;
  WPARAM quitCode = 0;
  MSG msg;
  while (!done) {
    if (::GetMessageA(&msg, nullptr, 0, 0) <= 0) {
      quit = msg.message == WM_QUIT;
      quitCode = msg.wParam;
      break;
    }
    ReportingExceptions(routine, [&] {
      if (!offer || !offer(msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    });
  }
  if (!done && ::IsWindow(window)) ::SendMessageA(window, WM_CLOSE, 0, 0);
  if (!done && ::IsWindow(window)) ::DestroyWindow(window);
  if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace havrek
