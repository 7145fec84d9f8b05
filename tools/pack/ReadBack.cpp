// show, list, test and extract: what a setup holds, read through the
// stub's own extraction walk (UnPack), so that what these commands accept
// is what the stub extracts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "Commands.h"
#include "package/EntryName.h"
#include "package/Integrity.h"
#include "package/PackOutputs.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/UnPack.h"
#include "package/ZLibOpen.h"
#include "platform/Platform.h"
#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek::pack {

namespace fs = std::filesystem;

namespace {

struct DiskSeen {
  std::string path;
  int number = 0;
  bool checksumOk = false;
  std::uint32_t stored = 0, computed = 0;
};

// One walk over a setup with what it found.
struct Walked {
  std::string setup;      // as given
  std::string first;      // the file the walk starts at (SETUP.001 for a disk set)
  bool diskSet = false;
  bool agent = false;     // an agent package: auto-update flag set
  std::optional<DiskSeen> launcher;  // the setup of a disk set, checked on its own
  std::vector<DiskSeen> disks;
  std::vector<EntryFacts> entries;
  ExtractResult result;
  std::string expandError;  // an entry that does not expand ends the walk
  std::int64_t expandIndex = 0;  // that entry's number
};

// text in double quotes with its control bytes escaped; for JSON also its
// quotes, backslashes and bytes above 126 (stored names are 8-bit ANSI, not
// UTF-8), as \u00XX.
std::string Escaped(const std::string& text, bool json) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (json && (c == '"' || c == '\\')) {
      out += '\\';
      out += c;
    } else if (u < 32 || u == 127 || (json && u > 127)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, json ? "\\u%04x" : "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Quoted(const std::string& name) { return Escaped(name, false); }

// A disk set's setup holds the stub and header blocks only; its entries are
// in SETUP.001, SETUP.002, ... (the span copy starts at the first).
bool HoldsNoEntries(const std::string& path, const TPackageHeader& h) {
  const plat::File f(path, plat::OpenMode::Read);
  if (!f) return false;
  const std::int64_t end = PackageEnd(f, f.size());
  std::int64_t pos = h.payloadStart;
  for (int i = 0; i < h.blockCount; ++i) {
    std::uint32_t length = 0;
    if (!f.readAt(pos, &length, 4)) return false;
    pos += 4 + static_cast<std::int64_t>(length);
  }
  // Its integrity record may follow, but no entry.
  if (end - pos > PackageHeaderSize && end - pos <= PackageHeaderSize + IntegrityBlockSize) {
    std::int32_t length = 0;
    std::string content(static_cast<std::size_t>(IntegrityContentSize), '\0');
    if (f.readAt(pos, &length, 4) && f.readAt(pos + 4, content.data(), IntegrityContentSize) &&
        IsIntegrityRecord(length, content.data(), IntegrityContentSize))
      pos += IntegrityBlockSize;
  }
  return end - pos <= PackageHeaderSize;
}

// The agent a setup writes beside its files: the stub image and header
// blocks under a header marked auto-update that keeps its setup's checksum.
bool IsAgentCopy(const std::string& path, const TPackageHeader& h) {
  return h.autoUpdate && !ChecksumPasses(h.checksum, PackageChecksum(path, h.trailerLength)) &&
         HoldsNoEntries(path, h);
}

const char kAgentCopy[] =
    ": an agent copy, not a setup (the agent a setup writes beside its files: it holds no files and keeps the "
    "checksum of its setup)";

DiskSeen CheckDisk(const std::string& path, int number) {
  TPackageHeader h{};
  ReadPackageHeader(path, h);
  DiskSeen d{path, number, false, h.checksum, PackageChecksum(path, h.trailerLength)};
  d.checksumOk = ChecksumPasses(d.stored, d.computed);
  return d;
}

// Walks setup as the stub extracts it: into folder, or writing nothing when
// folder is empty. open, when given, opens each entry's file.
void WalkSetup(Walked& w, const std::string& setup, const std::string& folder,
               const std::function<plat::File(const std::string&, bool, std::string&)>& open = nullptr) {
  w.setup = w.first = setup;
  std::string error;
  if (!CheckInputFile(setup, error)) throw ToolFailure{"cannot open " + setup + ": " + error};
  TPackageHeader h{};
  ReadPackageHeader(setup, h);
  if (h.magic != PackageMagic) throw ToolFailure{setup + ": holds no package (no package header at its end)"};
  if (IsAgentCopy(setup, h)) throw ToolFailure{setup + kAgentCopy};
  w.agent = h.autoUpdate != 0;
  if ((h.headerFlags & hfSpan) && !EndsWith(".001", setup, false) && HoldsNoEntries(setup, h)) {
    w.diskSet = true;
    w.launcher = CheckDisk(setup, 0);
    w.first = setup + ".001";
    if (!plat::Exists(w.first)) throw ToolFailure{w.first + ": disk file missing (" + setup + " is a disk set)"};
  }

  ExtractRequest request;
  request.packageFile = w.first;
  request.unattended = true;
  request.noWrite = folder.empty();
  // Names are checked against a folder even when nothing is written.
  request.targetFolder = folder.empty() ? std::string("setup") : folder;
  ExtractHooks hooks;
  hooks.diskFile = [&w](const std::string& path, int disk, const TPackageHeader& header, bool ok) {
    DiskSeen d{path, disk, ok, header.checksum, 0};
    if (!ok) d.computed = PackageChecksum(path, header.trailerLength);
    w.disks.push_back(d);
  };
  hooks.entryStarts = [&w](const EntryFacts& e) { w.entries.push_back(e); };
  hooks.entryDone = [&w](const EntryFacts& e) { w.entries.back() = e; };
  hooks.openEntry = open;
  hooks.lastErrorText = [] { return std::string(std::strerror(errno)); };
  const int saveErrors = SaveErrorCount();
  try {
    w.result = Extract(request, hooks);
  } catch (const EZLibError& e) {
    if (w.entries.empty()) throw;
    const EntryFacts& at = w.entries.back();
    w.expandError = at.diskFile + ": entry " + IntText(at.index) + " at offset " + IntText(at.offset) + " (" +
                    IntText(at.storedSize) + " bytes stored) does not expand: " + e.what();
    w.expandIndex = at.index;
    w.entries.pop_back();
  }
  SetSaveErrorCount(saveErrors);
}

Walked WalkSetup(const std::string& setup) {
  Walked w;
  WalkSetup(w, setup, "");
  return w;
}

// ---- list ----

struct FileRow {
  std::string name;
  std::int64_t size = 0, stored = 0;
  std::uint32_t date = 0;
  std::set<int> disks;
  int entries = 0;
  bool run = false;
  std::string runCommand;  // as stored: "NAME*ARGS", or the whole header
};

std::string DateText(std::uint32_t dos) {
  const int y = static_cast<int>(dos >> 25) + 1980, mo = (dos >> 21) & 15, d = (dos >> 16) & 31,
            h = (dos >> 11) & 31, mi = (dos >> 5) & 63, s = (dos & 31) * 2;
  if (dos == 0 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return text;
}

std::string DisksText(const std::set<int>& disks) {
  std::string out;
  for (auto it = disks.begin(); it != disks.end();) {
    const int from = *it;
    int to = from;
    while (++it != disks.end() && *it == to + 1) ++to;
    out += (out.empty() ? "" : ",") + std::to_string(from) + (to > from ? "-" + std::to_string(to) : "");
  }
  return out;
}

// Entries joined into files the way the stub writes them: pieces of one
// name (compared as the system does) land in one file.
std::vector<FileRow> Rows(const Walked& w, int& unnamed) {
  std::vector<FileRow> rows;
  std::map<std::string, std::size_t> at;
  unnamed = 0;
  for (const EntryFacts& e : w.entries) {
    if (!e.named || e.header.empty()) {
      ++unnamed;
      continue;
    }
    std::string normalized, error;
    const std::string name = NormalizeTargetName(e.name, normalized, error) ? normalized : e.name;
    const auto [slot, isNew] = at.emplace(UpperCase(name), rows.size());
    if (isNew) {
      rows.emplace_back();
      rows.back().name = name;
    }
    FileRow& r = rows[slot->second];
    r.size += e.dataSize;
    r.stored += e.storedSize;
    r.date = e.date;
    r.disks.insert(e.disk);
    ++r.entries;
    if (e.header.find('*') != std::string::npos) {
      r.run = true;
      const std::string field = SUB::GetField(e.header, 0);
      r.runCommand = field.find('*') != std::string::npos ? field : e.header;
    }
  }
  return rows;
}

std::string RunArgs(const FileRow& r) {
  const std::size_t star = r.runCommand.find('*');
  return star == std::string::npos ? std::string() : r.runCommand.substr(star + 1);
}

std::string Json(const std::string& text) { return Escaped(text, true); }

std::string Ratio(std::int64_t stored, std::int64_t size) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", size > 0 ? 100.0 * static_cast<double>(stored) / size : 0.0);
  return text;
}

// The walk's failure that ends what can be listed, or empty.
std::string WalkFailure(const Walked& w) {
  if (w.launcher && !w.launcher->checksumOk)
    return w.launcher->path + ": checksum failed (stored " + std::to_string(w.launcher->stored) + ", computed " +
           std::to_string(w.launcher->computed) + ")";
  for (const DiskSeen& d : w.disks)
    if (!d.checksumOk)
      return d.path + ": checksum failed (stored " + std::to_string(d.stored) + ", computed " +
             std::to_string(d.computed) + ")";
  if (!w.expandError.empty()) return w.expandError;
  if (w.result.damaged) return w.result.damage;
  return {};
}

// The ids of the update record's keys, "none", or BAD with the reason.
std::string UpdateKeyIds(const TGFileInfo& info) {
  std::vector<UpdateKey> keys;
  std::string error;
  if (!info.UpdateKeys(keys, error)) return "BAD (" + error + ")";
  std::string ids;
  for (const UpdateKey& key : keys) ids += (ids.empty() ? "" : ",") + key.id;
  return ids.empty() ? "none" : ids;
}

int PrintList(const Walked& w, bool json) {
  int unnamed = 0;
  const std::vector<FileRow> rows = Rows(w, unnamed);
  std::int64_t size = 0, stored = 0;
  for (const FileRow& r : rows) size += r.size, stored += r.stored;
  const std::string failure = WalkFailure(w);
  if (json) {
    std::cout << "{\"setup\":" << Json(w.setup) << ",\"update_keys\":[";
    std::vector<UpdateKey> keys;
    std::string keysError;
    const bool keysRead = TGFileInfo(w.setup).UpdateKeys(keys, keysError);
    for (std::size_t i = 0; i < keys.size(); ++i) std::cout << (i ? "," : "") << Json(keys[i].id);
    std::cout << "]";
    if (!keysRead) std::cout << ",\"update_keys_error\":" << Json(keysError);
    std::cout << ",\"disk_files\":[";
    for (std::size_t i = 0; i < w.disks.size(); ++i) std::cout << (i ? "," : "") << Json(w.disks[i].path);
    std::cout << "],\"files\":[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const FileRow& r = rows[i];
      std::cout << (i ? ",\n" : "\n") << "{\"name\":" << Json(r.name) << ",\"size\":" << r.size
                << ",\"compressed\":" << r.stored << ",\"date\":" << Json(DateText(r.date))
                << ",\"dos_date\":" << r.date << ",\"disks\":[";
      bool firstDisk = true;
      for (const int d : r.disks) std::cout << (std::exchange(firstDisk, false) ? "" : ",") << d;
      std::cout << "],\"entries\":" << r.entries << ",\"run\":" << (r.run ? "true" : "false");
      if (r.run) std::cout << ",\"run_args\":" << Json(RunArgs(r)) << ",\"run_mark\":" << Json(r.runCommand);
      std::cout << "}";
    }
    std::cout << "\n],\"totals\":{\"files\":" << rows.size() << ",\"entries\":" << w.entries.size()
              << ",\"size\":" << size << ",\"compressed\":" << stored << ",\"ratio_percent\":" << Ratio(stored, size)
              << "},\"complete\":" << (failure.empty() ? "true" : "false");
    if (!failure.empty()) std::cout << ",\"error\":" << Json(failure);
    std::cout << "}\n";
  } else {
    std::printf("%12s %12s  %-19s  %-5s %s\n", "size", "compressed", "date", "disk", "name");
    for (const FileRow& r : rows) {
      const std::string date = DateText(r.date);
      std::printf("%12lld %12lld  %-19s  %-5s %s", static_cast<long long>(r.size), static_cast<long long>(r.stored),
                  date.empty() ? "-" : date.c_str(), DisksText(r.disks).c_str(), Quoted(r.name).c_str());
      if (r.run) std::printf("  [run%s]", RunArgs(r).empty() ? "" : (": " + Quoted(RunArgs(r))).c_str());
      std::printf("\n");
    }
    std::printf("%12lld %12lld  %zu files in %zu entries, %zu disk file%s, compressed to %s %% of the size\n",
                static_cast<long long>(size), static_cast<long long>(stored), rows.size(), w.entries.size(),
                w.disks.size(), w.disks.size() == 1 ? "" : "s", Ratio(stored, size).c_str());
    if (unnamed) std::printf("%d entries without a name (the stub skips them)\n", unnamed);
  }
  std::cout.flush();
  if (!failure.empty()) return Failure(failure);
  return 0;
}

// SETUP [--json] (and [DIR] for extract --list-only).
struct ReadBackArgs {
  std::string setup, dir;
  bool json = false, listOnly = false;
};

ReadBackArgs ReadBackArguments(Args& args, const std::string& command, bool withDir) {
  ReadBackArgs a;
  std::string name;
  std::vector<std::string> plain;
  while (args.Next(name)) {
    if (name == "--json" && command != "test") args.NoValue(name), a.json = true;
    else if (name == "--list-only" && withDir) args.NoValue(name), a.listOnly = true;
    else if (name.starts_with("--")) throw UsageError{"unknown " + command + " option \"" + name + "\""};
    else plain.push_back(args.PathOf(name));
  }
  const std::size_t want = withDir && !a.listOnly ? 2 : 1;
  if (plain.size() < want || plain.size() > (withDir ? 2u : 1u))
    throw UsageError{command + (withDir ? " takes a setup and a folder" : " takes one setup")};
  a.setup = plain[0];
  if (plain.size() > 1) a.dir = plain[1];
  if (a.json && withDir && !a.listOnly) throw UsageError{"--json needs --list-only"};
  return a;
}

// What follows the package end of path: a signature (as osslsigncode
// appends it), other bytes, or nothing.
std::string SignatureText(const std::string& path) {
  const TForeignTail tail = ReadForeignTail(path);
  if (tail.kind == TailKind::Signature)
    return IntText(tail.size) + " bytes after the package (certificate table of " + IntText(tail.signatureSize) +
           " bytes at " + IntText(tail.signatureOffset) + ")";
  if (tail.kind == TailKind::Unknown) return "none (" + IntText(tail.size) + " unknown bytes after the package)";
  return "none";
}

// ---- extract ----

#ifndef _WIN32
std::string SystemError() { return std::strerror(errno); }
#endif

// Opens path for an entry's bytes without leaving root: every folder on the
// way below root must be a real folder (made when missing), and the file no
// link. A file already there is replaced by a new one at the entry's first
// piece, so a hard link to it elsewhere keeps its bytes.
plat::File OpenInside(const std::string& root, const std::string& path, bool first, std::string& error) {
  std::error_code ec;
  std::string at = root;
  std::size_t from = root.size() + 1;
  for (std::size_t cut; (cut = path.find('/', from)) != std::string::npos; from = cut + 1) {
    at = path.substr(0, cut);
    const fs::file_status st = fs::symlink_status(at, ec);
    if (fs::is_symlink(st)) return (error = at + " is a symbolic link: not followed out of the folder"), plat::File();
    if (!fs::exists(st)) {
      if (!fs::create_directory(at, ec) && ec) return (error = "cannot make folder " + at + ": " + ec.message()), plat::File();
    } else if (!fs::is_directory(st)) {
      return (error = at + " is in the way: a file where a folder goes"), plat::File();
    }
  }
  const fs::file_status st = fs::symlink_status(path, ec);
  if (fs::is_symlink(st)) return (error = path + " is a symbolic link: not written through"), plat::File();
  if (fs::exists(st) && !fs::is_regular_file(st)) return (error = path + " is in the way: not a regular file"), plat::File();
  if (first && fs::exists(st) && !fs::remove(path, ec))
    return (error = "cannot replace " + path + ": " + ec.message()), plat::File();
#ifndef _WIN32
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | (first ? O_EXCL : 0),
                        0644);
  if (fd < 0) return (error = "cannot write " + path + ": " + SystemError()), plat::File();
  return plat::File(static_cast<plat::FileId>(fd));
#else
  plat::File file(path, plat::OpenMode::Write);
  if (!file || file.seek(0, 2) < 0) return (error = "cannot write " + path), plat::File();
  return file;
#endif
}

// A file extract made, and which one it is: a later piece goes to that
// file or nowhere.
struct MadeFile {
  std::string path;
  bool made = false;
#ifndef _WIN32
  dev_t device = 0;
  ino_t inode = 0;
#endif
};

bool Identify(const plat::File& f, MadeFile& m) {
#ifndef _WIN32
  struct stat st {};
  if (::fstat(static_cast<int>(f.get()), &st) != 0) return false;
  m.device = st.st_dev;
  m.inode = st.st_ino;
#endif
  return true;
}

// The file made at the first piece, still with no other name: a hard link
// made since would take the bytes outside the folder.
bool SameFile(const plat::File& f, const MadeFile& m) {
#ifndef _WIN32
  struct stat st {};
  return ::fstat(static_cast<int>(f.get()), &st) == 0 && st.st_dev == m.device && st.st_ino == m.inode &&
         st.st_nlink == 1;
#else
  (void)f, (void)m;
  return true;
#endif
}

}  // namespace

int Show(Args& args) {
  std::string name, path;
  while (args.Next(name)) {
    if (!path.empty() || name.starts_with("--")) throw UsageError{"show takes one argument"};
    path = args.PathOf(name);
  }
  if (path.empty()) throw UsageError{"show takes one argument"};
  std::string error;
  if (!CheckInputFile(path, error)) return Failure("cannot open " + path + ": " + error);
  // Later disk files carry entries where the first holds header blocks, so
  // the header is read on its own and the records only where they exist.
  TPackageHeader h{};
  ReadPackageHeader(path, h);
  if (h.magic != PackageMagic) return Failure(path + " holds no package");
  const TGFileInfo info(path);
  const std::uint32_t sum = PackageChecksum(path, h.trailerLength);
  const bool agentCopy = IsAgentCopy(path, h);
  std::cout << "format=" << int(h.format) << "\nblocks=" << int(h.blockCount)
            << "\npayload_start=" << h.payloadStart << "\nfile_count=" << h.fileCount
            << "\nchecksum=" << h.checksum
            << (agentCopy ? std::string(" not checked") + kAgentCopy : ChecksumPasses(h.checksum, sum) ? " ok" : " BAD")
            << "\nheader_flags=" << int(h.headerFlags) << "\ninternet_setup=" << int(h.internetSetup)
            << "\nconfirm_download=" << int(h.confirmDownload) << "\nhas_agent=" << int(h.hasAgent)
            << "\nauto_update=" << int(h.autoUpdate) << "\nspace=";
  for (int i = 0; i < SpaceTableSize; ++i) std::cout << (i ? "," : "") << h.space[i];
  std::cout << "\nupdate_record=" << info.UpdateRecord() << "\nupdate_keys=" << UpdateKeyIds(info)
            << "\ninternet_record=" << info.InternetRecord()
            << "\nlanguage_block_bytes=" << info.LanguageBlock().size() << "\nsignature=" << SignatureText(path)
            << "\n";
  // The records of every file from this one to the end of its disk set.
  const IntegrityReport integrity = CheckPackageIntegrity(path);
  std::cout << "integrity=" << (integrity.Verified() ? "records ok" : integrity.Sound() ? "no records" : "BAD")
            << "\n";
  for (const DiskIntegrity& f : integrity.files)
    if (!f.error.empty()) std::cout << "integrity_error=" << f.path << ": " << f.error << "\n";
  return (agentCopy || ChecksumPasses(h.checksum, sum)) && integrity.Sound() ? 0 : 1;
}

int List(Args& args) {
  const ReadBackArgs a = ReadBackArguments(args, "list", false);
  return PrintList(WalkSetup(a.setup), a.json);
}

int Test(Args& args) {
  const ReadBackArgs a = ReadBackArguments(args, "test", false);
  const Walked w = WalkSetup(a.setup);
  std::vector<std::string> problems;
  auto disk = [&](const DiskSeen& d) {
    std::cout << d.path << ": checksum " << (d.checksumOk ? "ok" : "FAILED") << "\n";
    if (!d.checksumOk)
      problems.push_back(d.path + ": checksum failed (stored " + std::to_string(d.stored) + ", computed " +
                         std::to_string(d.computed) + "): the stub refuses it as damaged");
  };
  if (w.launcher) disk(*w.launcher);
  std::cout << w.setup << ": signature " << SignatureText(w.setup) << "\n";
  for (const DiskSeen& d : w.disks) disk(d);
  if (!w.expandError.empty()) problems.push_back(w.expandError);
  if (w.result.damaged) problems.push_back(w.result.damage);
  // Checked on their own as well: the walk does not read a disk set's setup,
  // and stops at the first damage.
  std::vector<std::string> starts = {w.setup};
  if (w.launcher) starts.push_back(w.first);
  for (const std::string& start : starts) {
    const IntegrityReport integrity = CheckPackageIntegrity(start);
    for (const DiskIntegrity& f : integrity.files) {
      std::cout << f.path << ": integrity "
                << (!f.error.empty() ? "FAILED" : f.recorded ? "record ok" : "no record (an older build)") << "\n";
      if (!f.error.empty() && !(w.result.damaged && w.result.damage.find(f.error) != std::string::npos))
        problems.push_back(f.path + ": " + f.error);
    }
  }

  std::int64_t bytes = 0;
  std::set<std::string> files;
  for (const EntryFacts& e : w.entries) {
    const std::string where = e.diskFile + ": entry " + IntText(e.index) + " ";
    if (!e.named) {
      problems.push_back(where + "has no name (no NUL ends its header): the stub skips it");
    } else if (e.header.empty()) {
      problems.push_back(where + "has an empty header: the stub skips it");
    } else if (!e.refused.empty()) {
      problems.push_back(where + Quoted(e.name) + ": name refused (" + e.refused.substr(e.refused.find(':') + 2) +
                         ")");
    } else {
      files.insert(UpperCase(e.path));
      bytes += e.dataSize;
    }
  }
  std::cout << w.entries.size() << " entries, " << files.size() << " files, " << bytes << " bytes\n";

  const ExtractResult& r = w.result;
  if (!r.runRefused.empty()) {
    problems.push_back("run mark refused: " + r.runRefused);
  } else if (r.runCommand.empty() && !r.damaged && w.expandError.empty() && w.agent && w.entries.empty()) {
    std::cout << "an agent package (auto-update): no files and nothing to run, by design\n";
  } else if (r.runCommand.empty() && !r.damaged && w.expandError.empty()) {
    problems.push_back(w.first + ": no entry is marked to run: the setup would start nothing");
  } else if (!r.runCommand.empty()) {
    std::cout << "runs " << Quoted(r.runCommand) << "\n";
  }

  if (problems.empty()) {
    std::cout << "OK: the stub extracts every file of " << w.setup << "\n";
    return 0;
  }
  for (const std::string& p : problems) std::cerr << "havrek-pack: " << p << "\n";
  std::cout << "FAILED: " << problems.size() << " problem" << (problems.size() == 1 ? "" : "s") << " in " << w.setup
            << "\n";
  return 1;
}

int Extract(Args& args) {
  const ReadBackArgs a = ReadBackArguments(args, "extract", true);
  if (a.listOnly) return PrintList(WalkSetup(a.setup), a.json);

  std::error_code ec;
  if (fs::exists(fs::symlink_status(a.dir, ec)) && !fs::is_directory(fs::status(a.dir, ec)))
    return Failure(a.dir + ": not a folder");
  fs::create_directories(a.dir, ec);
  if (ec) return Failure("cannot make folder " + a.dir + ": " + ec.message());
  std::string root = fs::path(a.dir).lexically_normal().string();
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();

  // The file each entry went to, so that a stream breaking in the middle of
  // an entry does not leave a file that looks whole.
  Walked w;
  std::string writing;
  std::int64_t writingEntry = 0;
  // The files this run made, by their name as Windows compares it: pieces
  // whose names differ only in letter case are one file to the stub, so
  // they go to the file the first piece made, and list, test and extract
  // count the same files. A later piece is appended only to the very file
  // this run made, never to one that was there before.
  std::map<std::string, MadeFile> made;
  std::vector<std::string> notes;
  WalkSetup(w, a.setup, root, [&](const std::string& path, bool, std::string& error) {
    const auto [it, first] = made.try_emplace(UpperCase(path));
    MadeFile& m = it->second;
    plat::File f;
    if (first) {
      m.path = path;
      f = OpenInside(root, path, true, error);
      m.made = f && Identify(f, m);
      if (f && !m.made) {
        error = "cannot tell which file " + path + " is: " + std::strerror(errno);
        f.reset();
      }
    } else if (!m.made) {
      error = "not written: its first piece was not";
    } else {
      if (path != m.path)
        notes.push_back(path + " joined to " + m.path +
                        " (names that differ only in letter case are one file to the stub)");
      f = OpenInside(root, m.path, false, error);
      if (f && !SameFile(f, m)) {
        error = m.path + " was replaced while extracting: not appended to";
        f.reset();
      }
    }
    // Only a file this run made may be removed again.
    writing = f ? m.path : std::string();
    writingEntry = static_cast<std::int64_t>(w.entries.size());
    return f;
  });
  std::vector<std::string> problems;
  if (const std::string f = WalkFailure(w); !f.empty()) problems.push_back(f);
  if (!w.expandError.empty() && writingEntry == w.expandIndex && !writing.empty() && fs::remove(writing, ec))
    problems.push_back("removed " + writing + ": its entry did not expand");
  // A set that ends at a missing disk or cut short may hold the rest of the
  // last file written in what is missing: nothing shows whether it is whole.
  const bool unfinished = w.result.cutShort || EndsWith(": disk file missing", w.result.damage, false);
  if (unfinished && w.expandError.empty() && !writing.empty() && fs::remove(writing, ec)) {
    made.erase(UpperCase(writing));
    problems.push_back("removed " + writing + ": it cannot be completed, its rest may be in what is missing");
  }
  std::int64_t bytes = 0;
  std::set<std::string> files;
  for (const EntryFacts& e : w.entries) {
    if (!e.named || e.header.empty()) continue;
    const std::string where = e.diskFile + ": entry " + IntText(e.index) + " " + Quoted(e.name) + ": ";
    if (!e.refused.empty()) {
      problems.push_back(where + "name refused (" + e.refused.substr(e.refused.find(':') + 2) + "), not written");
    } else if (e.failed) {
      problems.push_back(where + e.error);
    } else if (made.count(UpperCase(e.path))) {
      files.insert(UpperCase(e.path));
      bytes += e.dataSize;
    }
  }
  std::cout << "extracted " << files.size() << " files (" << bytes << " bytes) into " << root << "\n";
  for (const std::string& n : notes) std::cerr << "havrek-pack: note: " << n << "\n";
  for (const std::string& p : problems) std::cerr << "havrek-pack: " << p << "\n";
  return problems.empty() ? 0 : 1;
}

}  // namespace havrek::pack
