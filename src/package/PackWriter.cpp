#include "package/PackWriter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <thread>

#include "package/Integrity.h"
#include "package/PackOutputs.h"
#include "package/PackPipeline.h"
#include "util/Utils.h"

namespace havrek {

namespace {

constexpr std::int64_t kUnlimited = INT64_MAX / 4;

struct DiskFile {
  std::string path;
  std::string temp;  // written until the set is complete
  bool hasStub = false;
  std::uint32_t payloadStart = 0;
  bool moreDisks = false;
  std::int64_t size = 0;
};

class Writer {
 public:
  Writer(const PackOptions& o, OutputSet& outputs, PackResult& r) : o_(o), outputs_(outputs), r_(r) {}

  bool Run();
  // OUT.001, OUT.002, ... written (0 for a single file).
  std::int64_t DiskFileCount() const {
    return o_.diskSize > 0 ? static_cast<std::int64_t>(disks_.size()) - 1 : 0;
  }

 private:
  bool Fail(const std::string& error) {
    r_.error = error;
    return false;
  }
  bool Prepare();
  bool CheckOptions();
  bool AddHeaderBlocks();
  bool ListSources(std::vector<std::int64_t>& sizes);
  void FillHeader(const std::vector<std::int64_t>& sizes);
  bool Open(const std::string& path, bool withStub);
  bool WriteBytes(const std::string& bytes);
  bool WriteIntegrityRecord();
  bool ComputeSetIdentity();
  bool CloseDisk(bool moreDisks);
  std::int64_t Room() const {
    return o_.diskSize > 0 ? o_.diskSize - curSize_ - IntegrityBlockSize - PackageHeaderSize : kUnlimited;
  }
  bool NextDisk();
  bool Place(ChunkPipeline& pipeline, const Chunk& c);
  bool Finish(const DiskFile& d);

  const PackOptions& o_;
  OutputSet& outputs_;
  PackResult& r_;
  std::string prefix_;  // stub image and header blocks
  std::uint32_t stubSize_ = 0;
  TPackageHeader header_{};
  std::uint64_t setIdentity_ = 0;  // of a disk set; 0 for a single file
  std::vector<SourceFile> sources_;
  std::vector<DiskFile> disks_;
  plat::File cur_;
  std::int64_t curSize_ = 0;
  PackProgress progress_;
  int jobs_ = 1;
};

bool Writer::Prepare() {
  if (!CheckOptions()) return false;
  std::string stubBytes, error;
  if (!ReadStubImage(o_.stubPath, stubBytes, error)) return Fail(error);
  stubSize_ = static_cast<std::uint32_t>(stubBytes.size());
  prefix_ = std::move(stubBytes);
  std::vector<std::int64_t> sizes;
  if (!AddHeaderBlocks() || !ListSources(sizes)) return false;
  FillHeader(sizes);
  const std::int64_t least = static_cast<std::int64_t>(prefix_.size()) + IntegrityBlockSize + PackageHeaderSize;
  if (o_.diskSize > 0 && o_.diskSize < least + 64)
    return Fail("disk size " + std::to_string(o_.diskSize) + " cannot hold the stub image and header blocks (" +
                std::to_string(least) + " bytes)");
  return true;
}

bool Writer::CheckOptions() {
  if (o_.level < 0 || o_.level > 9) return Fail("compression level must be 0 to 9");
  if (o_.splitSize < 1 || o_.splitSize > MaxSplitSize)
    return Fail("split size must be 1 to " + std::to_string(MaxSplitSize) + " bytes");
  if (o_.diskSize < 0) return Fail("disk size must not be negative");
  if (o_.extraSpace < 0) return Fail("extra space must not be negative");
  if (o_.outPath.empty()) return Fail("no output file given");
  if (o_.jobs > MaxJobs) return Fail("jobs must be 1 to " + std::to_string(MaxJobs));
  jobs_ = o_.jobs > 0 ? o_.jobs : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, MaxJobs);
  return true;
}

// After the stub image: the language block, the update record and, when
// asked, the internet record, each behind its length.
bool Writer::AddHeaderBlocks() {
  std::string update, internet, error;
  if (!MakeUpdateRecord(o_.update, update, error)) return Fail("update record: " + error);
  if (o_.withInternetRecord && !MakeInternetRecord(o_.internet, internet, error))
    return Fail("internet record: " + error);
  auto addBlock = [this](const std::string& text) {
    unsigned char len[4];
    PutWord(len, static_cast<std::uint32_t>(text.size()));
    prefix_.append(reinterpret_cast<const char*>(len), 4);
    prefix_.append(text);
  };
  addBlock(o_.languageBlock);
  addBlock(update);
  if (o_.withInternetRecord) addBlock(internet);
  return true;
}

// The files to pack, checked, with their entry headers; their sizes.
bool Writer::ListSources(std::vector<std::int64_t>& sizes) {
  int runs = 0;
  std::set<std::string> seen;
  std::string error;
  for (const PackFile& f : o_.files) {
    std::string target;
    if (!NormalizeTargetName(f.target, target, error)) return Fail("target name \"" + f.target + "\": " + error);
    if (!seen.insert(UpperCase(target)).second) return Fail("target name given twice: " + target);
    if (f.run && ++runs > 1) return Fail("only one file can be the program to run");
    if (f.runArgs.find_first_of(std::string("|\0", 2)) != std::string::npos)
      return Fail("the arguments of " + target + " must not contain \"|\"");
    if (!CheckInputFile(f.source, error)) return Fail("cannot open " + f.source + ": " + error);
    plat::File in(f.source, plat::OpenMode::Read);
    if (!in) return Fail("cannot open " + f.source);
    SourceFile s;
    s.source = f.source;
    s.size = in.size();
    if (s.size < 0) return Fail("cannot read " + f.source);
    s.header = EntryHeader(target, f.run, f.runArgs, o_.fixedDate != 0 ? o_.fixedDate : plat::DosDate(in.get()));
    sizes.push_back(s.size);
    progress_.totalIn += s.size;
    sources_.push_back(std::move(s));
  }
  progress_.totalFiles = static_cast<std::int64_t>(sources_.size());
  return true;
}

void Writer::FillHeader(const std::vector<std::int64_t>& sizes) {
  header_.format = 1;
  header_.blockCount = static_cast<std::uint8_t>(o_.withInternetRecord ? 3 : 2);
  header_.magic = PackageMagic;
  ComputeSpaceTable(sizes, o_.extraSpace, header_.space);
  header_.headerFlags = static_cast<std::uint8_t>(o_.headerFlags & ~hfMoreDisks);
  header_.internetSetup = o_.internetSetup ? 1 : 0;
  header_.confirmDownload = o_.confirmDownload ? 1 : 0;
  header_.hasAgent = o_.hasAgent ? 1 : 0;
  header_.autoUpdate = o_.autoUpdate ? 1 : 0;
  header_.trailerLength = PackageHeaderSize;
}

bool Writer::Open(const std::string& path, bool withStub) {
  DiskFile d;
  d.path = path;
  d.hasStub = withStub;
  std::string error;
  d.temp = outputs_.Stage(path, error);
  if (d.temp.empty()) return Fail(error);
  cur_ = plat::File(d.temp, plat::OpenMode::Write);
  if (!cur_) return Fail("cannot create " + path);
  curSize_ = 0;
  if (withStub) {
    d.payloadStart = stubSize_;
    disks_.push_back(d);
    return WriteBytes(prefix_);
  }
  // Four zero bytes ahead of the entries keep a later disk file from ever
  // starting with "MZ", so it is never taken for an image with a build length.
  d.payloadStart = 4;
  disks_.push_back(d);
  return WriteBytes(std::string(4, '\0'));
}

bool Writer::WriteBytes(const std::string& bytes) {
  if (!cur_.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size())))
    return Fail("cannot write " + disks_.back().path);
  curSize_ += static_cast<std::int64_t>(bytes.size());
  return true;
}

// The record covers the whole finished file, header and build length
// included: its digest is written in Finish, once everything else is there.
bool Writer::WriteIntegrityRecord() {
  const unsigned char none[plat::kSha256Size] = {};
  return WriteBytes(IntegrityRecordBlock(none));
}

// The header is rewritten in Finish, once the entry count is known.
bool Writer::CloseDisk(bool moreDisks) {
  if (!WriteIntegrityRecord()) return false;
  if (!WriteBytes(std::string(PackageHeaderSize, '\0'))) return false;
  disks_.back().moreDisks = moreDisks;
  disks_.back().size = curSize_;
  cur_.reset();
  return true;
}

bool Writer::NextDisk() {
  if (!CloseDisk(true)) return false;
  return Open(o_.outPath + "." + ZeroPad(static_cast<std::int64_t>(disks_.size()), 3), false);
}

// Decided here alone, on the pieces in their order: the disk a piece goes
// to and where a piece is cut to fill the rest of a disk.
bool Writer::Place(ChunkPipeline& pipeline, const Chunk& c) {
  if (!c.error.empty()) return Fail(c.error);
  const SourceFile& f = sources_[c.file];
  const std::int64_t overhead = 4 + static_cast<std::int64_t>(f.header.size()) + 1;
  const std::int64_t needed = overhead + (f.size - c.offset > 0 ? 1 : 0);
  if (Room() < needed) {
    if (!NextDisk()) return false;
    if (Room() < needed)
      return Fail("disk size " + std::to_string(o_.diskSize) + " cannot hold an entry of " + f.source);
  }
  const std::int64_t room = Room();
  std::int64_t chunk = c.length;
  const std::string* stored = &c.stored;
  std::string cut;
  if (static_cast<std::int64_t>(stored->size()) > room) {
    // Too big for what is left of this disk: guess from the ratio reached,
    // and fall back to what surely fits raw.
    const std::int64_t rawFit = room - overhead;
    const double ratio = static_cast<double>(chunk) / static_cast<double>(stored->size());
    std::int64_t guess = static_cast<std::int64_t>(static_cast<double>(room) * ratio * 0.9);
    chunk = std::min(std::max(guess, rawFit), chunk);
    plat::File in(f.source, plat::OpenMode::Read);
    if (!in) return Fail("cannot open " + f.source);
    EntryStore store(o_.level);
    if (!store.Store(f.header, in, c.offset, chunk, cut)) return Fail("cannot read " + f.source);
    if (static_cast<std::int64_t>(cut.size()) > room) {
      chunk = rawFit;
      if (!store.Store(f.header, in, c.offset, chunk, cut)) return Fail("cannot read " + f.source);
    }
    stored = &cut;
    if (chunk != c.length) pipeline.Restart(c.file, c.offset + chunk);
  }
  if (!WriteBytes(*stored)) return false;
  ++r_.entries;
  progress_.bytesIn += chunk;
  progress_.bytesOut += static_cast<std::int64_t>(stored->size());
  if (c.offset + chunk >= f.size) ++progress_.files;
  if (o_.progress) o_.progress(progress_);
  return true;
}

bool Writer::Finish(const DiskFile& d) {
  TPackageHeader h = header_;
  SetIntegrityMark(h);
  SetDiskSetIdentity(h, setIdentity_);
  h.payloadStart = d.payloadStart;
  h.fileCount = static_cast<std::uint32_t>(r_.entries);
  if (d.moreDisks) h.headerFlags |= hfMoreDisks;
  {
    plat::File out(d.temp, plat::OpenMode::Write);
    if (!out || out.seek(d.size - PackageHeaderSize) != d.size - PackageHeaderSize ||
        !out.writeAll(&h, PackageHeaderSize))
      return Fail("cannot write " + d.path);
    if (d.hasStub && o_.writeBuildLength) {
      unsigned char built[8];
      PutWord(built, static_cast<std::uint32_t>(static_cast<std::uint64_t>(d.size) >> 32));
      PutWord(built + 4, static_cast<std::uint32_t>(d.size));
      if (out.seek(BuildLengthOffset) != BuildLengthOffset || !out.writeAll(built, 8))
        return Fail("cannot write " + d.path);
    }
  }
  // Hashed from the bytes as they lie in the file, by the readers' own
  // code, so that what is checked is what was written; the checksum, which
  // the digest leaves out, sums the digest in turn.
  {
    const plat::File in(d.temp, plat::OpenMode::Read);
    unsigned char digest[plat::kSha256Size];
    if (!WholeFileDigest(in, d.size, digest)) return Fail("cannot read back " + d.path);
    plat::File out(d.temp, plat::OpenMode::Write);
    const std::int64_t at = d.size - IntegrityDigestBack;
    if (!out || out.seek(at) != at || !out.writeAll(digest, plat::kSha256Size)) return Fail("cannot write " + d.path);
  }
  // Summed from the finished file by the reader's own code, so the two can
  // never disagree.
  const std::uint32_t sum = PackageChecksum(d.temp, PackageHeaderSize);
  const std::int64_t at = d.size - PackageHeaderSize + static_cast<std::int64_t>(offsetof(TPackageHeader, checksum));
  plat::File out(d.temp, plat::OpenMode::Write);
  if (!out || out.seek(at) != at || !out.writeAll(&sum, 4)) return Fail("cannot write " + d.path);
  return true;
}

bool Writer::Run() {
  if (!Prepare()) return false;
  if (o_.diskSize > 0) {
    // The program the user starts: stub, header blocks and the header only;
    // its span copy extracts from the disk files.
    if (!Open(o_.outPath, true) || !CloseDisk(false)) return false;
    if (!Open(o_.outPath + ".001", true)) return false;
  } else if (!Open(o_.outPath, true)) {
    return false;
  }
  {
    ChunkPipeline pipeline(sources_, o_.splitSize, o_.level, jobs_);
    while (const std::shared_ptr<Chunk> c = pipeline.Next())
      if (!Place(pipeline, *c)) return false;
  }
  if (!CloseDisk(false)) return false;
  if (disks_.size() > 1 && !ComputeSetIdentity()) return false;
  for (const DiskFile& d : disks_)
    if (!Finish(d)) return false;
  return true;
}

// Every file of a disk set carries one identity, drawn from all of their
// blocks, so that a disk of another build of the same inputs (another date,
// other options) is told apart before anything is taken from it.
bool Writer::ComputeSetIdentity() {
  plat::Sha256 hash;
  std::string piece(std::size_t{1} << 20, '\0');
  for (const DiskFile& d : disks_) {
    const plat::File in(d.temp, plat::OpenMode::Read);
    if (!in || in.seek(d.payloadStart) != d.payloadStart) return Fail("cannot read back " + d.path);
    for (std::int64_t left = d.size - d.payloadStart; left > 0;) {
      const std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(piece.size()));
      if (!in.readExact(piece.data(), n)) return Fail("cannot read back " + d.path);
      hash.update(piece.data(), n);
      left -= n;
    }
  }
  unsigned char digest[plat::kSha256Size];
  if (!hash.final(digest)) return Fail("no SHA-256 for the disk set of " + o_.outPath);
  std::uint64_t identity = 0;
  for (int i = 0; i < 5; ++i) identity = identity << 8 | digest[i];
  // 0 reads as "no identity".
  setIdentity_ = identity != 0 ? identity : 1;
  return true;
}

}  // namespace

void ComputeSpaceTable(const std::vector<std::int64_t>& sizes, std::int64_t extra,
                       std::uint32_t (&space)[SpaceTableSize]) {
  for (int i = 0; i < SpaceTableSize; ++i) {
    const std::int64_t cluster = i == 0 ? 1 : std::int64_t{512} << (i - 1);
    std::int64_t total = extra;
    for (std::int64_t s : sizes) total += (s + cluster - 1) / cluster * cluster;
    space[i] = static_cast<std::uint32_t>(std::min<std::int64_t>(total, 0xFFFFFFFF));
  }
}

PackResult WritePackage(const PackOptions& options) {
  PackResult result;
  std::vector<std::string> inputs = options.otherInputs;
  inputs.push_back(options.stubPath);
  for (const PackFile& f : options.files) inputs.push_back(f.source);
  OutputSet outputs(std::move(inputs));
  Writer writer(options, outputs, result);
  // An entry is held in memory up to the split size, compressed beside it;
  // a 32-bit build may not get that much.
  try {
    result.ok = writer.Run() && outputs.Commit(result.error);
  } catch (const std::bad_alloc&) {
    result.ok = false;
    result.error = "not enough memory for an entry of " + std::to_string(options.splitSize) + " bytes";
  }
  if (result.ok) {
    result.written = outputs.Paths();
    RemoveStaleDisks(options.outPath, writer.DiskFileCount(), outputs, result.removed, result.warnings);
  }
  return result;
}

}  // namespace havrek
