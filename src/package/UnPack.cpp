#include "package/UnPack.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <system_error>

#include "diag/HDebug.h"
#include "files/Files.h"
#include "package/EntryName.h"
#include "package/Integrity.h"
#include "package/PackX.h"
#include "package/ZLibOpen.h"
#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
// Natively a backslash is an ordinary file-name character.
constexpr char kSeparator = '/';
#endif

constexpr std::int64_t kReadPiece = 65536;
// Expanded bytes held at a time; a write call takes at most kWritePiece.
constexpr std::size_t kExpandPiece = std::size_t{256} << 10;
constexpr std::int64_t kWritePiece = std::int64_t{1} << 20;
// Smaller blocks are hashed in line: a thread would cost more than it saves.
constexpr std::int64_t kHashAside = std::int64_t{256} << 10;
// The walk stops when this little is left, whatever the header's own length.
constexpr std::int64_t kTrailerRoom = 74;
// Language block, update record, internet record.
constexpr std::int64_t kMostHeaderBlocks = 3;
constexpr std::int64_t kBuildLengthLow = BuildLengthOffset + 4;
constexpr std::uint32_t kDiskWaitMs = 500;
// Names and arguments are short. A header that goes on past this is no
// header, and keeping it would cost as much memory as the whole entry.
constexpr std::size_t kHeaderCap = std::size_t{32} << 10;

// Leaves the expansion of an entry whose header ran past kHeaderCap.
struct HeaderOverrun {};

int saveErrorCount = 0;

using Bytes = std::unique_ptr<char, FreeDeleter>;

class Walker {
 public:
  Walker(const ExtractRequest& request, const ExtractHooks& hooks) : r_(request), h_(hooks) {}
  ExtractResult Run();

 private:
  void Progress(int kind, std::int64_t maximum = 0) const {
    if (h_.progress) h_.progress(kind, maximum, 0, 1);
  }
  void Wait(std::uint32_t ms) const {
    if (h_.wait) h_.wait(ms);
  }
  void WalkDisk();
  bool ReadBlock(const plat::File& file);
  std::future<void> HashAside(std::int32_t length, const char* bytes, std::int64_t n);
  void Take(const char* bytes, std::int64_t count);
  void WriteFailed();
  void StartEntry();
  void EndEntry();
  void SaveFailed(const std::string& path, const std::string& details);
  std::string LastError() const { return h_.lastErrorText ? h_.lastErrorText() : std::string(); }
  std::string Details(const std::string& path, std::int64_t dataSize, const std::string& lastError) const;
  void WriteAgent(const plat::File& file);
  bool HashPrefix(const plat::File& file);
  bool NextDisk();
  void Damaged(const std::string& what);
  void CheckRunFile();
  void ReportEntry();

  const ExtractRequest& r_;
  const ExtractHooks& h_;
  ExtractResult result_;
  std::string path_;
  int disk_ = 1;
  TPackageHeader header_{};
  TPackageHeader firstHeader_{};  // of disk 1, whose set every later disk must belong to
  std::int64_t pos_ = 0;
  std::int64_t end_ = 0;
  std::int64_t blocks_ = 0;  // over all disk files
  std::int64_t firstEntry_ = 0;
  std::int64_t entries_ = 0;     // over all disk files
  std::uint32_t fileCount_ = 0;  // as disk 1's header counts them
  bool go_ = true;
  // Every path this walk saved to (upper case, the system compares names
  // without it), and whether all its pieces were written. Only such a file
  // may be run.
  std::map<std::string, bool> written_;
  // Kept from entry to entry, so the walk holds at most its largest stored
  // entry and one piece of expanded bytes, and does not allocate for each.
  Bytes stored_;
  std::int64_t storedCapacity_ = 0;
  InflatedBuffer piece_;
  EntryFacts facts_;  // of the entry being walked, for the entry hooks
  // Over the blocks of the disk file being walked, as they are read: the
  // file is read once, for its entries and its record alike.
  IntegrityCheck integrity_;

  // The entry being saved. Its failure is told only once all its bytes are
  // in: a stream that breaks later raises instead, as if never saved.
  struct Entry {
    std::string header;
    std::string name;
    bool named = false;  // the header's NUL was seen
    bool skip = false;   // nothing to save: no header
    std::string refused;  // why the name was refused
    std::string path;
    std::uint32_t date = 0;
    plat::File file;
    bool failed = false;
    std::string error;  // the system's text, read at the failing call
    std::int64_t dataSize = 0;
  };
  Entry entry_;
};

ExtractResult Walker::Run() {
  const std::uint64_t t0 = plat::TickMs();
  std::string base = r_.packageFile;
  if (EndsWith(".001", base, false)) base.resize(base.size() - 4);
  path_ = r_.packageFile;
  Progress(0, 0);

  for (;;) {
    if (plat::Exists(path_)) {
      header_ = TPackageHeader{};
      ReadPackageHeader(path_, header_);
      if (disk_ == 1) {
        DebugLine("FileInfo.FilesCount=" + IntText(header_.fileCount));
        fileCount_ = header_.fileCount;
        firstHeader_ = header_;
      }
      // Without its magic the header is bytes from the middle of a file cut
      // short: its checksum, offsets and more-disks flag mean nothing.
      if (header_.magic != PackageMagic) {
        Damaged(path_ + ": no package header at its end");
        break;
      }
      result_.checksumOk = ChecksumPasses(header_.checksum, PackageChecksum(path_, header_.trailerLength));
      if (h_.diskFile) h_.diskFile(path_, disk_, header_, result_.checksumOk);
      // A damaged disk ends the whole set: no further disk is asked for.
      if (!result_.checksumOk) break;
      WalkDisk();
      if (result_.damaged) break;
    }
    if (!(header_.headerFlags & hfMoreDisks)) break;
    path_ = base + "." + ZeroPad(disk_ + 1, 3);
    if (!NextDisk()) break;
  }

  if (!go_) {
    result_.runCommand.clear();
    result_.cancelled = true;
  } else if (result_.checksumOk && !result_.damaged && fileCount_ > 0 && entries_ == 0) {
    Damaged(r_.packageFile + ": no stored file, although the package counts " + IntText(fileCount_));
  } else if (result_.checksumOk && !result_.damaged && entries_ != fileCount_) {
    // An entry taken for a header block, or a count changed: either way the
    // files are not the ones the package was built with.
    Damaged(r_.packageFile + ": " + IntText(entries_) + " stored files, although the package counts " +
            IntText(fileCount_));
  }
  CheckRunFile();
  DebugLine("UnCompressTime: " + IntText(static_cast<std::int64_t>(plat::TickMs() - t0)) + " MS");
  DebugLine("");
  Wait(kDiskWaitMs);
  return result_;
}

void Walker::WalkDisk() {
  const plat::File file(path_, plat::OpenMode::Read);
  if (!file) return;
  end_ = PackageEnd(file, file.size());
  DebugLine("FileLen=" + IntText(end_));
  pos_ = header_.payloadStart;
  if (pos_ > end_ || file.seek(pos_) != pos_) {
    Damaged(path_ + ": its payload starts past its end");
    return;
  }
  if (disk_ == 1) Progress(0, header_.fileCount);
  integrity_ = IntegrityCheck(IntegrityMarkVersion(header_), r_.verify);
  if (integrity_.Checking() && integrity_.WholeFile() && !HashPrefix(file)) {
    Damaged(path_ + ": cut short ahead of its payload");
    return;
  }

  if (r_.targetFolder.empty()) {
    // Entries would land in the root of the current drive.
    if (h_.showError)
      h_.showError(r_.targetFolder + "<P><P>Unable to create Directory!<P><P>" +
                   (h_.lastErrorText ? h_.lastErrorText() : std::string()));
    return;
  }
  // A folder that cannot be made shows up as failed saves below.
  if (!r_.noWrite) plat::MakeDirs(r_.targetFolder);

  do {
    plat::ServeMessages();
    if (!ReadBlock(file)) {
      // Cut short: what would follow is not in this file.
      if (!result_.damaged) {
        result_.cutShort = true;
        Damaged(path_ + ": cut short at offset " + IntText(pos_));
      }
      break;
    }
  } while (end_ - pos_ > kTrailerRoom);
  if (!result_.damaged)
    if (const std::string error = integrity_.Finish(); !error.empty()) Damaged(path_ + ": " + error);

  if (disk_ == 1 && !r_.noWrite) WriteAgent(file);
}

bool Walker::ReadBlock(const plat::File& file) {
  std::int32_t length = 0;
  if (end_ - pos_ < 4 || ReadChunked(file, reinterpret_cast<char*>(&length), 4) != 4) return false;
  const bool compressed = length > 0;
  const std::int64_t n = compressed ? length : -static_cast<std::int64_t>(length);
  // Checked before anything is allocated for it.
  if (n > end_ - pos_ - 4) return false;
  if (n > storedCapacity_) {
    // Released first: the old bytes are not needed, and holding both would
    // double the peak.
    stored_.reset();
    storedCapacity_ = 0;
    stored_.reset(static_cast<char*>(std::malloc(static_cast<std::size_t>(n))));
    if (!stored_) throw EZLibError(ZErrorText(-4));
    storedCapacity_ = n;
  }
  char* stored = stored_.get();
  if (ReadChunked(file, stored, n) != n) return false;
  pos_ += n + 4;
  ++blocks_;
  if (blocks_ == header_.blockCount) firstEntry_ = pos_;
  const bool entry = blocks_ > header_.blockCount;
  if (!entry && blocks_ > kMostHeaderBlocks && n > 0) {
    // Only three header blocks exist: a count beyond them hides entries.
    Damaged(path_ + ": its header counts " + IntText(header_.blockCount) + " header blocks");
    return false;
  }
  if (entry && IsIntegrityRecord(length, stored, n)) {
    // The package header that follows the record is covered too (version 2).
    std::string trailer;
    if (end_ - pos_ == PackageHeaderSize) {
      trailer.resize(PackageHeaderSize);
      if (ReadChunked(file, trailer.data(), PackageHeaderSize) != PackageHeaderSize) trailer.clear();
    }
    integrity_.Record(stored, trailer);
    if (integrity_.Error().empty()) return true;
    // Whatever this file wrote may be damaged: nothing after it is read.
    Damaged(path_ + ": " + integrity_.Error());
    return false;
  }
  // Joined as this block is left, whichever way: the next one reuses stored.
  const std::future<void> hashed = HashAside(length, stored, n);
  if (!entry) return true;

  ++entries_;
  entry_ = Entry{};
  if (h_.entryStarts || h_.entryDone) {
    facts_ = EntryFacts{};
    facts_.diskFile = path_;
    facts_.disk = disk_;
    facts_.index = entries_;
    facts_.offset = pos_ - n - 4;
    facts_.storedSize = n;
    facts_.compressed = compressed;
    if (h_.entryStarts) h_.entryStarts(facts_);
  }
  try {
    if (!compressed) {
      Take(stored, n);
    } else {
      // Written as it expands: holding a whole entry cost as much memory as
      // the entry and kept the disk idle meanwhile.
      InflatePieces(stored, static_cast<std::size_t>(n), piece_, kExpandPiece,
                    [this](const char* bytes, std::size_t count) { Take(bytes, static_cast<std::int64_t>(count)); });
    }
  } catch (const HeaderOverrun&) {
    entry_ = Entry{};
    result_.runCommand.clear();
    Damaged(path_ + ": an entry's header has no end within " + IntText(static_cast<std::int64_t>(kHeaderCap)) +
            " Bytes");
    return false;
  }
  EndEntry();
  if (h_.entryDone) ReportEntry();
  return true;
}

// Version 2 records cover the stub image and whatever else lies ahead of
// the payload; read once, in pieces, then the walk goes on at the payload.
bool Walker::HashPrefix(const plat::File& file) {
  const std::int64_t start = header_.payloadStart;
  if (file.seek(0) != 0) return false;
  std::string head(static_cast<std::size_t>(std::min<std::int64_t>(start, ChecksumSkippedHead)), '\0');
  if (ReadChunked(file, head.data(), static_cast<std::int64_t>(head.size())) != static_cast<std::int64_t>(head.size()))
    return false;
  std::int64_t at = static_cast<std::int64_t>(head.size());
  integrity_.Prefix(std::move(head));
  std::string piece(static_cast<std::size_t>(std::min<std::int64_t>(start - at, kExpandPiece)), '\0');
  while (at < start) {
    const std::int64_t want = std::min(start - at, static_cast<std::int64_t>(piece.size()));
    if (ReadChunked(file, piece.data(), want) != want) return false;
    integrity_.Take(piece.data(), want);
    at += want;
  }
  return file.seek(start) == start;
}

void Walker::ReportEntry() {
  const Entry& e = entry_;
  facts_.named = e.named;
  facts_.header = e.header;
  facts_.name = e.name;
  facts_.refused = e.refused;
  facts_.path = e.refused.empty() ? e.path : std::string();
  facts_.date = e.date;
  facts_.dataSize = e.dataSize;
  facts_.failed = e.failed;
  facts_.error = e.error;
  h_.entryDone(facts_);
}

std::future<void> Walker::HashAside(std::int32_t length, const char* bytes, std::int64_t n) {
  auto hash = [this, length, bytes, n] {
    integrity_.Take(&length, 4);
    integrity_.Take(bytes, n);
  };
  // A large block is hashed on another core while this one expands and
  // writes it: the check then costs next to no time of the walk.
  if (integrity_.Checking() && n >= kHashAside) {
    try {
      return std::async(std::launch::async, hash);
    } catch (const std::system_error&) {
      // No thread to be had: hashed here instead.
    }
  }
  hash();
  return {};
}

void Walker::Take(const char* bytes, std::int64_t count) {
  Entry& e = entry_;
  if (!e.named) {
    if (count <= 0) return;
    const char* nul = static_cast<const char*>(std::memchr(bytes, 0, static_cast<std::size_t>(count)));
    const char* end = nul ? nul : bytes + count;
    if (e.header.size() + static_cast<std::size_t>(end - bytes) > kHeaderCap) throw HeaderOverrun{};
    e.header.append(bytes, end);
    if (!nul) return;
    e.named = true;
    count -= nul + 1 - bytes;
    bytes = nul + 1;
    StartEntry();
  }
  if (e.skip) return;
  e.dataSize += count;
  if (!e.refused.empty() || e.failed || r_.noWrite) return;
  if (!e.file && h_.openEntry) {
    std::string error;
    e.file = h_.openEntry(e.path, written_.count(UpperCase(e.path)) == 0, error);
    if (!e.file) {
      e.failed = true;
      e.error = error;
      return;
    }
  } else if (!e.file) {
    e.file = plat::File(e.path, plat::OpenMode::Write);
    if (!e.file || e.file.seek(0, 2) < 0) {
      WriteFailed();
      e.file.reset();
      return;
    }
  }
  while (count > 0) {
    const std::int64_t put = std::min(count, kWritePiece);
    if (!e.file.writeAll(bytes, put)) {
      WriteFailed();
      return;
    }
    bytes += put;
    count -= put;
  }
}

void Walker::WriteFailed() {
  entry_.failed = true;
  entry_.error = LastError();
}

void Walker::StartEntry() {
  Entry& e = entry_;
  if (e.header.empty()) {
    e.skip = true;
    return;
  }
  std::string run = e.header.find('*') != std::string::npos ? e.header : std::string();
  std::string name = SUB::GetField(e.header, 0);
  const std::string time = SUB::GetField(e.header, 1);
  if (const std::size_t star = name.find('*'); star != std::string::npos) {
    run = name;
    name.resize(star);
  }
  // "setup.exe * -x" names setup.exe: Windows drops blanks that end a name.
  while (!name.empty() && name.back() == ' ') name.pop_back();
  e.name = name;

  e.date = static_cast<std::uint32_t>(TextToInt32(time, 0));
  // Taken even when the name is refused below: the check of the run file at
  // the end then tells why nothing runs.
  if (!run.empty()) result_.runCommand = run;
  std::string error;
  if (!EntryTargetPath(r_.targetFolder, name, e.path, error)) {
    // Never written, and never run: it would be a program outside the folder.
    e.path = r_.targetFolder + kSeparator + name;
    e.refused = "Entry name refused: " + error;
    return;
  }
  if (!plat::Exists(e.path)) {
    Progress(1);
    const std::size_t cut = e.path.rfind(kSeparator);
    if (!r_.noWrite && !h_.openEntry && cut > r_.targetFolder.size()) plat::MakeDirs(e.path.substr(0, cut));
  }
}

void Walker::EndEntry() {
  Entry& e = entry_;
  if (!e.named || e.skip) return;
  if (!e.refused.empty()) {
    SaveFailed(e.path, e.refused);
    return;
  }
  // An entry without data bytes still leaves its (dated) file.
  if (!e.file && !e.failed) Take(nullptr, 0);
  if (e.file && !e.failed && e.date != 0) plat::SetDosDate(e.file.get(), e.date);
  // Closed first: the details read the file's size.
  e.file.reset();
  // A file stored in pieces counts as written only when every piece was.
  const auto [slot, isNew] = written_.emplace(UpperCase(e.path), !e.failed);
  if (!isNew) slot->second = slot->second && !e.failed;
  if (e.failed) SaveFailed(e.path, Details(e.path, e.dataSize, e.error));
}

std::string Walker::Details(const std::string& path, std::int64_t dataSize, const std::string& lastError) const {
  if (h_.saveFailureDetails) return h_.saveFailureDetails(path, dataSize, lastError);
  const plat::File file(path, plat::OpenMode::Read);
  return SaveFailureText(lastError, dataSize, file ? file.size() : 0, -1);
}

void Walker::SaveFailed(const std::string& path, const std::string& details) {
  ++result_.failedSaves;
  if (++saveErrorCount == 1 && h_.showError)
    h_.showError(path + "<P><P>Unable to save Extracted File!<P><P>" + details);
}

void Walker::WriteAgent(const plat::File& file) {
  const std::string agent = FileNamePart(r_.agentFileName);
  if (agent.empty() || !(EndsWith(".exe", r_.packageFile, true) || EndsWith(".exe.001", r_.packageFile, true)))
    return;
  TPackageHeader h{};
  ReadPackageHeader(file, h);
  // Without the whole stub image and header blocks the copy could not run.
  if (firstEntry_ < kBuildLengthLow + 4 || firstEntry_ > end_) return;
  // The copy is built whole in memory. A length a 32-bit build cannot hold
  // would be cut short in the cast and then overrun by the read; one the
  // system will not give must not leave the walk as an exception.
  std::string copy;
  try {
    if (static_cast<std::uint64_t>(firstEntry_) > copy.max_size()) throw std::bad_alloc();
    copy.resize(static_cast<std::size_t>(firstEntry_));
  } catch (const std::exception&) {
    SaveFailed(r_.targetFolder + kSeparator + agent, "Not enough memory for " + IntText(firstEntry_) + " Bytes");
    return;
  }
  if (!file.readAt(0, copy.data(), firstEntry_)) return;
  // The copy ends at its header: a build length would point past it.
  std::memset(copy.data() + kBuildLengthLow, 0, 4);
  // A signed setup's header points at a certificate table the copy ends
  // before: the copy is an unsigned program, and says so.
  ClearSignatureFields(copy);
  h.autoUpdate = 1;
  h.trailerLength = PackageHeaderSize;
  // Nor does the copy carry the record its header would promise.
  std::memset(h.integrity, 0, sizeof h.integrity);
  copy.append(reinterpret_cast<const char*>(&h), PackageHeaderSize);

  std::string path, error;
  if (!EntryTargetPath(r_.targetFolder, agent, path, error)) {
    SaveFailed(r_.targetFolder + kSeparator + agent, "Entry name refused: " + error);
    return;
  }
  if (!WriteFileText(path, copy, plat::DosDate(file.get()))) {
    const std::string error = LastError();
    SaveFailed(path, Details(path, static_cast<std::int64_t>(copy.size()), error));
    return;
  }
  DebugLine(IntText(plat::ProcessId()) + " New AU-Agent: " + path);
}

bool Walker::NextDisk() {
  if (h_.suppressAutoPlay) h_.suppressAutoPlay(true);
  ++disk_;
  // A disk of another build would install files that are half of each: it
  // is asked for again like a missing one.
  auto here = [this] {
    if (!plat::Exists(path_)) return false;
    TPackageHeader h{};
    ReadPackageHeader(path_, h);
    return SameDiskSet(firstHeader_, h);
  };
  if (r_.unattended && !here()) {
    Damaged(path_ + (plat::Exists(path_) ? ": a disk of another set (another build): it is not disk " +
                                               IntText(disk_) + " of " + r_.packageFile
                                         : ": disk file missing"));
    return false;
  }
  if (r_.forcePrompt || !here()) {
    if (h_.eject) h_.eject(path_);
    do {
      const std::string text = ReplaceAllNoCase(r_.diskPrompt, "<DISK_NUM>", IntText(disk_));
      go_ = h_.askForDisk && h_.askForDisk(text, r_.diskPromptTitle, r_.charset, r_.buttons);
      Wait(kDiskWaitMs);
    } while (go_ && !here());
  }
  Progress(1);
  return go_;
}

void Walker::Damaged(const std::string& what) {
  if (!result_.damaged) result_.damage = what;
  result_.damaged = true;
  DebugLine("Damaged package: " + what);
}

void Walker::CheckRunFile() {
  std::string& run = result_.runCommand;
  if (run.empty()) return;
  if (result_.damaged) {
    run.clear();
    return;
  }
  // The same name rule as every entry, so that the program started is one
  // this walk wrote inside the target folder and nothing else: the header
  // form with the "*" in a later field can otherwise name any path.
  const std::string file = Trim(run.substr(0, run.find('*')));
  std::string path, error;
  if (!EntryTargetPath(r_.targetFolder, file, path, error)) {
    result_.runRefused = "\"" + file + "\": " + error;
  } else if (const auto it = written_.find(UpperCase(path)); it == written_.end()) {
    result_.runRefused = "\"" + file + "\": not a file of this setup";
  } else if (!it->second) {
    result_.runSaveFailed = true;
  }
  if (!result_.runRefused.empty()) DebugLine("Run file refused: " + result_.runRefused);
  if (!result_.runRefused.empty() || result_.runSaveFailed) run.clear();
}

}  // namespace

ExtractResult Extract(const ExtractRequest& request, const ExtractHooks& hooks) {
  return Walker(request, hooks).Run();
}

int SaveErrorCount() { return saveErrorCount; }
void SetSaveErrorCount(int count) { saveErrorCount = count; }

std::int64_t ReadChunked(const plat::File& file, char* buffer, std::int64_t n) {
  std::int64_t done = 0;
  while (done < n) {
    const std::int64_t want = std::min(n - done, kReadPiece);
    const std::int64_t got = file.read(buffer + done, want);
    if (got < 0) return -1;
    done += got;
    plat::ServeMessages();
    // The file ended: a loop that waited for the rest would never end.
    if (got < want) break;
  }
  return done;
}

bool EntryTargetPath(const std::string& folder, const std::string& name, std::string& path, std::string& error) {
  path.clear();
  if (folder.empty()) return (error = "no target folder"), false;
  std::string relative;
  if (!NormalizeTargetName(name, relative, error)) return false;
  path = folder + kSeparator + ReplaceChar(relative, '\\', kSeparator);
  return true;
}

std::string SaveFailureText(const std::string& lastError, std::int64_t dataSize, std::int64_t fileSize,
                            std::int64_t freeBytes) {
  return lastError + "<P>" + "  Data Size: <T>" + IntText(dataSize) + " Bytes<P>" + "  File Size:  <T>" +
         IntText(fileSize) + " Bytes<P>" + "  Bytes Free: <T>" + IntText(freeBytes) + " Bytes";
}

}  // namespace havrek
