#include "diag/HDebugWin.h"

#include <algorithm>
#include <atomic>

#include "diag/HDebug.h"
#include "platform/Platform.h"
#include "util/WinHandle.h"

#ifndef HAVREK_DEBUG_MODE
#define HAVREK_DEBUG_MODE 0
#endif

namespace havrek {
namespace {

constexpr int kDebugMode = HAVREK_DEBUG_MODE;
static_assert(kDebugMode >= 0 && kDebugMode <= 2, "HAVREK_DEBUG_MODE is 0, 1 or 2");

std::atomic<UINT> g_viewerMessage{0};
std::atomic<bool> g_started{false};

// A viewer that stops answering must not freeze the stub with it.
constexpr UINT kViewerTimeoutMs = 5000;

void SendPiece(const std::string& piece) {
  if (kDebugMode == 1 || kDebugMode == 2) AppendDebugFile(kDebugFilePath, piece);
  if (kDebugMode == 0 || kDebugMode == 2) SendToDebugViewer(piece);
}

const bool g_startedBeforeMain = (StartDebugChannel(), true);

}  // namespace

void StartDebugChannel() {
  if (g_started.exchange(true)) return;
  g_viewerMessage.store(::RegisterWindowMessageA(kDebugViewerMessageName));
  SetDebugTarget(&SendPiece);
}

int DebugMode() { return kDebugMode; }

UINT DebugViewerMessage() {
  if (g_viewerMessage.load() == 0) g_viewerMessage.store(::RegisterWindowMessageA(kDebugViewerMessageName));
  return g_viewerMessage.load();
}

bool SendToDebugViewer(const std::string& piece) {
  // Atom names end at the first NUL and hold at most 255 characters.
  const std::string name = piece.substr(0, std::min<std::size_t>(piece.find('\0'), 255));
  if (name.empty()) return false;
  const HWND viewer = ::FindWindowA(kDebugViewerClass, nullptr);
  if (!viewer) return false;
  const GlobalAtom atom(::GlobalAddAtomA(name.c_str()));
  if (!atom) return false;
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutA(viewer, DebugViewerMessage(), 1, static_cast<LPARAM>(atom.get()),
                               SMTO_NORMAL | SMTO_ABORTIFHUNG, kViewerTimeoutMs, &answer) != 0;
}

bool AppendDebugFile(const std::string& path, const std::string& piece) {
  const std::string text = DebugFileText(piece);
  const plat::File file(path, plat::OpenMode::Append);
  return file && file.writeAll(text.data(), static_cast<std::int64_t>(text.size()));
}

}  // namespace havrek
