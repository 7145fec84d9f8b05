// The Win32 targets of the debug channel: the external viewer window and the
// fixed debug file.
#pragma once

#include <windows.h>

#include <string>

namespace havrek {

// 0: viewer only; 1: debug file only; 2: both. Chosen when building
// (cmake -DHAVREK_DEBUG_MODE=n).
int DebugMode();
inline constexpr char kDebugFilePath[] = "C:\\ProgramData\\_hdebug.txt";
inline constexpr char kDebugViewerClass[] = ".HDebug.";
inline constexpr char kDebugViewerMessageName[] = ".H_DebugMsg.";

// Registers the viewer message and routes DebugOut to the targets of
// kDebugMode. Runs by itself before main when this unit is linked; calling it
// again does nothing.
void StartDebugChannel();
UINT DebugViewerMessage();

// One piece to the first ".HDebug." window, as a global atom that lives for
// the length of the send. False when there is no viewer or it did not answer.
bool SendToDebugViewer(const std::string& piece);
// One piece, line ends made CR LF, appended to the file.
bool AppendDebugFile(const std::string& path, const std::string& piece);

}  // namespace havrek
