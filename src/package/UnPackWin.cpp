// The extraction's Win32 pieces: the facts of a failed save and the hooks
// that do not belong to the main window or the message box.
#include <windows.h>

#include "files/Files.h"
#include "package/UnPack.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"

namespace havrek {

std::string SaveFailureDetails(const std::string& path, std::int64_t dataSize, const std::string& lastError) {
  return SaveFailureText(lastError, dataSize, FileSizeByName(path), static_cast<std::int64_t>(DiskFreeBytes(path)));
}

ExtractHooks WinExtractHooks() {
  ExtractHooks hooks;
  hooks.eject = [](const std::string& path) { EjectCD(path); };
  hooks.suppressAutoPlay = [](bool on) { RegisterAutoPlayMessage(on); };
  hooks.wait = [](std::uint32_t ms) { WaitYielding(0, ms); };
  hooks.saveFailureDetails = SaveFailureDetails;
  hooks.lastErrorText = LastErrorText;
  return hooks;
}

}  // namespace havrek
