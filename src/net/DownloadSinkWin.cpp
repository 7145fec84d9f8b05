#include "net/DownloadSink.h"

#include <windows.h>

#include <memory>

#include "files/Files.h"
#include "net/InetText.h"
#include "platform/Platform.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/WinHandle.h"

namespace havrek {
namespace {

// Every earlier side file of the target goes; the target itself and files
// that only share its name's start stay.
void DeleteLeftOvers(const std::string& target) {
  const std::string dir = FileDirPart(target);
  const std::string name = FileNamePart(target);
  WIN32_FIND_DATAA found;
  FindHandle find(::FindFirstFileA((target + ".*").c_str(), &found));
  if (!find) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!IsLeftOverName(name, found.cFileName)) continue;
    const std::string path = dir + found.cFileName;
    if (!::DeleteFileA(path.c_str())) {
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileA(path.c_str());
    }
  } while (::FindNextFileA(find.get(), &found));
}

struct SideFile {
  std::string target;
  std::string side;
  plat::File file;  // opened with the first bytes
};

}  // namespace

DownloadSink SideFileSink(const std::string& target, std::int64_t size, std::uint32_t dosDate) {
  const auto s = std::make_shared<SideFile>();
  s->target = target;
  s->side = SideFileName(target, size, dosDate);
  DeleteLeftOvers(target);

  DownloadSink sink;
  sink.write = [s](const char* data, std::size_t count, std::int64_t) {
    if (!s->file) {
      s->file = plat::File(s->side, plat::OpenMode::Write);
      if (s->file) s->file.seek(0, 2);
    }
    if (!s->file || !s->file.writeAll(data, static_cast<std::int64_t>(count)))
      return "writing " + s->side + ": " + LastErrorText();
    return std::string();
  };
  sink.close = [s] { s->file.reset(); };
  sink.isErrorPage = [s] { return IsErrorPage(s->side, std::string()); };
  sink.keep = [s](std::int64_t received) {
    const std::int64_t written = FileSizeByName(s->side);
    if (written != received)
      return s->side + " holds " + std::to_string(written) + " of " + std::to_string(received) + " bytes";
    if (!::MoveFileExA(s->side.c_str(), s->target.c_str(), MOVEFILE_REPLACE_EXISTING))
      return "renaming " + s->side + ": " + LastErrorText();
    return std::string();
  };
  sink.discard = [s] {
    s->file.reset();
    ::DeleteFileA(s->side.c_str());
  };
  return sink;
}

}  // namespace havrek
