#include "files/Files.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "util/Utils.h"

namespace havrek {

namespace {

constexpr std::int64_t kChunkThreshold = 1048576;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrReparsePoint = 0x400;

}  // namespace

bool AppendText(const std::string& path, const std::string& bytes, std::uint32_t dosDate) {
  return WriteFileText(path, bytes, dosDate, true);
}

std::string ReadFileText(const std::string& path, std::int64_t most) {
  if (!plat::Exists(path)) return {};
  const plat::File file(path, plat::OpenMode::Read);
  if (!file) return {};
  std::int64_t n = file.size();
  if (n < 0) return {};
  if (most > 0) n = std::min(n, most);
  if (n == 0) return {};
  if (static_cast<std::uint64_t>(n) > std::numeric_limits<std::size_t>::max() / 2) return {};
  std::string result;
  try {
    result.resize(static_cast<std::size_t>(n));
  } catch (const std::bad_alloc&) {
    return {};
  }
  if (!file.readExact(result.data(), n)) return {};
  return result;
}

std::int64_t WriteChunkSize(std::int64_t total) {
  const std::int64_t tenth = total / 10;
  if (tenth <= 1024) return std::min<std::int64_t>(total, 1024);
  return std::min(tenth, kChunkThreshold);
}

bool WriteFileBytes(const std::string& path, const void* data, std::int64_t count, std::uint32_t dosDate,
                    bool append) {
  if (count < 0 || (count > 0 && data == nullptr)) return false;
  const plat::File file(path, append ? plat::OpenMode::Append : plat::OpenMode::Create);
  if (!file) return false;

  const auto* bytes = static_cast<const unsigned char*>(data);
  bool all = false;
  if (count > kChunkThreshold) {
    const std::int64_t chunk = WriteChunkSize(count);
    std::int64_t written = 0;
    while (written < count) {
      const std::int64_t put = plat::Write(file.get(), bytes + written, std::min(count - written, chunk));
      if (put <= 0) break;
      written += put;
    }
    all = written == count;
  } else {
    all = file.writeAll(bytes, count);
  }
  if (all && dosDate != 0) plat::SetDosDate(file.get(), dosDate);
  return all;
}

bool WriteFileText(const std::string& path, const std::string& bytes, std::uint32_t dosDate, bool append) {
  return WriteFileBytes(path, bytes.data(), static_cast<std::int64_t>(bytes.size()), dosDate, append);
}

TreeEntry ClassifyTreeEntry(const std::string& name, std::uint32_t attributes) {
  if (!(attributes & kAttrDirectory) || name == "." || name == "..") return TreeEntry::Skip;
  return (attributes & kAttrReparsePoint) ? TreeEntry::Unlink : TreeEntry::Descend;
}

bool DeleteTreeWith(const std::string& folder, const TreeOps& ops) {
  const auto isFolder = [&](const std::string& path) {
    const std::uint32_t a = ops.attributes(path);
    return a != kNoAttributes && (a & kAttrDirectory);
  };
  const std::uint32_t attributes = ops.attributes(folder);
  if (attributes == kNoAttributes || !(attributes & kAttrDirectory)) return false;

  // A link given as the folder itself goes as a link too: what it points to
  // lies outside the tree that was asked for.
  if (attributes & kAttrReparsePoint) {
    ops.unlink(folder);
    return !isFolder(folder);
  }
  ops.deleteFiles(folder);
  // Listed first, acted on after: a folder changing under its own listing
  // may show an entry twice or not at all.
  std::vector<std::pair<std::string, TreeEntry>> children;
  ops.list(folder, [&](const std::string& name, std::uint32_t a) {
    const TreeEntry what = ClassifyTreeEntry(name, a);
    if (what != TreeEntry::Skip) children.emplace_back(folder + ops.separator + name, what);
  });
  for (const auto& [child, what] : children) {
    if (what == TreeEntry::Descend) DeleteTreeWith(child, ops);
    else ops.unlink(child);
  }
  ops.removeFolder(folder);
  return !isFolder(folder);
}

std::string SelfDeleteBatchText(const std::string& exeName, const std::string& dirName, const std::string& batName,
                                bool removeFolder, const std::string& systemDir, int tries) {
  // A batch file expands "%" even inside quotes: "100%" would lose its sign
  // and "%TEMP%" become another folder. Doubled, it stands for itself.
  const std::string exe = ReplaceAll(exeName, "%", "%%");
  const std::string dir = ReplaceAll(dirName, "%", "%%");
  const std::string bat = ReplaceAll(batName, "%", "%%");
  // The helpers by full path: cmd looks in its current folder (the
  // temporary folder) before the system's.
  const std::string sys = ReplaceAll(SetTrailingBackslash(systemDir, true), "%", "%%");
  const std::string q = "\"";
  const std::string eol = "\r\n";
  const std::string counter = "DELME_TRIES";
  // A read-only copy (one taken from a CD) refuses DEL until its attribute
  // is cleared; a file that stays locked is given up after the last try
  // instead of keeping a hidden cmd.exe busy for ever. ping stands in for
  // the sleep command cmd lacks: two echoes one second apart.
  std::string text = "SET /A " + counter + "=0" + eol;
  text += ":START" + eol;
  text += q + sys + "attrib.exe" + q + " -R " + q + exe + q + eol;
  text += "DEL " + q + exe + q + eol;
  text += "IF not exist " + q + exe + q + " GOTO DONE" + eol;
  text += "SET /A " + counter + "+=1" + eol;
  text += "IF %" + counter + "% GEQ " + IntText(tries < 1 ? 1 : tries) + " GOTO DONE" + eol;
  text += q + sys + "ping.exe" + q + " -n 2 127.0.0.1 >NUL" + eol;
  text += "GOTO START" + eol;
  text += ":DONE" + eol;
  if (removeFolder) text += "RD " + q + dir + q + eol;
  text += "DEL " + q + bat + q + eol;
  return text;
}

std::string SelfDeleteBatchName(std::uint32_t processId) { return "_DEL_ME_" + std::to_string(processId) + ".BAT"; }

std::string SelfDeleteCommandLine(const std::string& cmdExe, const std::string& bat) {
  return "\"" + cmdExe + "\" /c \"\"" + bat + "\"\"";
}

std::string FreeSpaceQueryPath(const std::string& path) {
  const std::string p = ReplaceChar(path, '/', '\\');
  if (p.size() >= 3) {
    const std::size_t cut = p.find('\\', 3);
    if (cut != std::string::npos) return p.substr(0, cut);
  }
  return p;
}

std::string DriveRootOf(const std::string& path) {
  if (path.empty()) return std::string();
  return UpperCase(path.substr(0, 1)) + ":\\";
}

}  // namespace havrek
