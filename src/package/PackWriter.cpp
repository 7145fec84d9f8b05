#include "package/PackWriter.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include "package/Integrity.h"
#include "util/Utils.h"
#include "util/UtilsSystem.h"

namespace havrek {

namespace {

namespace fs = std::filesystem;

constexpr char kSOH = '\x01';
constexpr char kSTX = '\x02';
constexpr std::int64_t kUnlimited = INT64_MAX / 4;

void PutWord(unsigned char* p, std::uint32_t w) { std::memcpy(p, &w, 4); }

// Entries as stored: the signed length and the bytes after it. One per
// thread; the stream is kept from entry to entry.
class EntryStore {
 public:
  explicit EntryStore(int level) : level_(level) {}
  EntryStore(const EntryStore&) = delete;
  EntryStore& operator=(const EntryStore&) = delete;
  ~EntryStore() {
    if (ready_) deflateEnd(&z_);
  }

  // Reads size bytes of in at offset into the entry; false when they cannot
  // all be read.
  bool Store(const std::string& header, const plat::File& in, std::int64_t offset, std::int64_t size,
             std::string& stored) {
    const std::size_t at = 4 + header.size() + 1;
    // Length word, header, NUL and data in one buffer: read in place and
    // stored raw without a further copy.
    std::string content(at + static_cast<std::size_t>(size), '\0');
    std::memcpy(content.data() + 4, header.data(), header.size());
    if (size > 0 && !in.readAt(offset, content.data() + at, size)) return false;
    const std::size_t plain = content.size() - 4;
    if (level_ > 0) {
      if (!ready_) {
        if (deflateInit(&z_, level_) != Z_OK) throw std::bad_alloc();
        ready_ = true;
      } else {
        deflateReset(&z_);
      }
      // Only a stream shorter than the content is kept: room for one byte
      // less, and a stream that does not end there is given up.
      stored.resize(4 + plain - 1);
      z_.next_in = reinterpret_cast<Bytef*>(content.data() + 4);
      z_.avail_in = static_cast<uInt>(plain);
      z_.next_out = reinterpret_cast<Bytef*>(stored.data() + 4);
      z_.avail_out = static_cast<uInt>(plain - 1);
      if (deflate(&z_, Z_FINISH) == Z_STREAM_END) {
        stored.resize(4 + z_.total_out);
        PutWord(reinterpret_cast<unsigned char*>(stored.data()), static_cast<std::uint32_t>(z_.total_out));
        return true;
      }
    }
    // A length of zero or less marks the content as stored as it is.
    PutWord(reinterpret_cast<unsigned char*>(content.data()),
            static_cast<std::uint32_t>(-static_cast<std::int32_t>(plain)));
    stored = std::move(content);
    return true;
  }

 private:
  int level_;
  bool ready_ = false;
  z_stream z_{};
};

struct SourceFile {
  std::string source;
  std::string header;
  std::int64_t size = 0;
};

// A piece of a source file, stored as an entry ahead of its turn.
struct Chunk {
  std::size_t file = 0;
  std::int64_t offset = 0, length = 0;
  bool taken = false, done = false;
  std::string stored;
  std::string error;
};

// Stores the pieces of the sources in their order on worker threads, ahead
// of the thread that places them. Memory stays bounded: the pieces planned
// and not yet taken hold at most 3 x jobs x the split size of the sources
// (counted in bytes, so that small files go on while a large piece is being
// stored). Which pieces there are is decided here and by Restart only, never
// by timing, so the entries are the same for every number of threads.
class ChunkPipeline {
 public:
  ChunkPipeline(const std::vector<SourceFile>& sources, std::int64_t splitSize, int level, int jobs)
      : sources_(sources), splitSize_(splitSize), level_(level),
        budget_(2 * static_cast<std::int64_t>(std::max(jobs, 1)) * splitSize),
        maxPlanned_(64 * static_cast<std::size_t>(std::max(jobs, 1))), inlineStore_(level) {
    if (jobs < 2) return;  // one thread: each piece is stored when its turn comes
    for (int i = 0; i < jobs; ++i) {
      try {
        threads_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads, or none, still build the same package
      }
    }
  }
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;
  // Pieces still being stored are finished and dropped.
  ~ChunkPipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  // The next piece in order, stored (or with its error); null after the last.
  std::shared_ptr<Chunk> Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    // The piece taken last was placed whole: the rest of its file may be
    // stored ahead again.
    if (placedWhole_) resumeLimit_ = budget_ / 2;
    if (resume_ && (queue_.empty() || queue_.front()->file != resumeFile_)) {
      PlanResume();
      work_.notify_all();
    } else if (queue_.empty()) {
      if (nextFile_ == sources_.size()) return nullptr;
      PlanMain();
      work_.notify_all();
    }
    std::shared_ptr<Chunk> c = queue_.front();
    if (threads_.empty()) {
      lock.unlock();
      Process(*c, inlineStore_);
      lock.lock();
    } else {
      done_.wait(lock, [&c] { return c->done; });
    }
    queue_.pop_front();
    planned_ -= c->length;
    placedWhole_ = c->file == resumeFile_;
    work_.notify_all();
    return c;
  }

  // The piece just taken was cut: the rest of its file goes on from offset.
  // Its pieces stored ahead are dropped, those of later files kept; until a
  // piece of it is placed whole, its pieces are stored one at a time, as
  // the next is likely cut again to fill the same disk.
  void Restart(std::size_t file, std::int64_t offset) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (!queue_.empty() && queue_.front()->file == file) {
        planned_ -= queue_.front()->length;
        queue_.pop_front();
      }
      if (nextFile_ == file) ++nextFile_, nextOffset_ = 0;
      resume_ = offset < sources_[file].size;
      resumeFile_ = file;
      resumeOffset_ = offset;
      resumeLimit_ = 0;
      placedWhole_ = false;
    }
    work_.notify_all();
  }

 private:
  std::shared_ptr<Chunk> MakeChunk(std::size_t file, std::int64_t offset) {
    auto c = std::make_shared<Chunk>();
    c->file = file;
    c->offset = offset;
    c->length = std::min(splitSize_, sources_[file].size - offset);
    return c;
  }

  // The next piece after those queued: up to the split size of what is left
  // of a file; an empty file is one empty piece.
  void PlanMain() {
    std::shared_ptr<Chunk> c = MakeChunk(nextFile_, nextOffset_);
    nextOffset_ += c->length;
    if (nextOffset_ >= sources_[nextFile_].size) ++nextFile_, nextOffset_ = 0;
    planned_ += c->length;
    queue_.push_back(std::move(c));
  }

  // The next piece of a restarted file: after its pieces at the front of the
  // queue, before those of later files.
  void PlanResume() {
    std::shared_ptr<Chunk> c = MakeChunk(resumeFile_, resumeOffset_);
    resumeOffset_ += c->length;
    resume_ = resumeOffset_ < sources_[resumeFile_].size;
    planned_ += c->length;
    queue_.insert(queue_.begin() + ResumePrefix(), std::move(c));
  }

  std::size_t ResumePrefix() const {
    std::size_t n = 0;
    while (n < queue_.size() && queue_[n]->file == resumeFile_) ++n;
    return n;
  }

  bool MayPlanResume() const {
    if (!resume_ || queue_.size() >= maxPlanned_) return false;
    std::int64_t ahead = 0;
    for (std::size_t i = 0; i < ResumePrefix(); ++i) ahead += queue_[i]->length;
    return ahead == 0 || ahead + std::min(splitSize_, sources_[resumeFile_].size - resumeOffset_) <= resumeLimit_;
  }

  bool MayPlanMain() const {
    if (nextFile_ == sources_.size() || queue_.size() >= maxPlanned_) return false;
    const std::int64_t next = std::min(splitSize_, sources_[nextFile_].size - nextOffset_);
    return queue_.empty() || planned_ + next <= budget_;
  }

  // An error travels with the piece to the placing thread, which fails the
  // build when the piece's turn comes.
  void Process(Chunk& c, EntryStore& store) {
    const SourceFile& f = sources_[c.file];
    try {
      plat::File in(f.source, plat::OpenMode::Read);
      if (!in) c.error = "cannot open " + f.source;
      else if (!store.Store(f.header, in, c.offset, c.length, c.stored)) c.error = "cannot read " + f.source;
      else if (c.offset + c.length == f.size) {
        // A file that grows or shrinks meanwhile, or one whose size tells
        // nothing (/proc), would be packed cut or padded without a word.
        char more = 0;
        if (in.size() != f.size || in.readAt(f.size, &more, 1))
          c.error = f.source + " changed while it was read, or holds more bytes than its size (" +
                    std::to_string(f.size) + ")";
      }
    } catch (const std::bad_alloc&) {
      c.stored.clear();
      c.error = "not enough memory for an entry of " + std::to_string(c.length) + " bytes of " + f.source;
    } catch (const std::exception& e) {
      c.stored.clear();
      c.error = f.source + ": " + e.what();
    }
  }

  void Work() {
    EntryStore store(level_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      std::shared_ptr<Chunk> c;
      work_.wait(lock, [&] {
        if (stop_) return true;
        for (const std::shared_ptr<Chunk>& q : queue_)
          if (!q->taken) return true;
        return MayPlanResume() || MayPlanMain();
      });
      if (stop_) return;
      for (std::size_t i = 0; i < queue_.size() && !c; ++i)
        if (!queue_[i]->taken) c = queue_[i];
      if (!c) {
        try {
          const bool resume = MayPlanResume();
          if (resume) PlanResume();
          else PlanMain();
          c = resume ? queue_[ResumePrefix() - 1] : queue_.back();
        } catch (const std::bad_alloc&) {
          // The placing thread plans the piece it waits for itself, and
          // fails the build if it cannot.
          work_.wait_for(lock, std::chrono::milliseconds(10));
          continue;
        }
      }
      c->taken = true;
      lock.unlock();
      Process(*c, store);
      lock.lock();
      c->done = true;
      done_.notify_all();
    }
  }

  const std::vector<SourceFile>& sources_;
  const std::int64_t splitSize_;
  const int level_;
  const std::int64_t budget_;     // bytes of the pieces planned and not yet taken
  const std::size_t maxPlanned_;  // pieces, however small
  EntryStore inlineStore_;
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<std::shared_ptr<Chunk>> queue_;
  std::size_t nextFile_ = 0;
  std::int64_t nextOffset_ = 0;
  std::int64_t planned_ = 0;
  // The rest of a file whose piece was cut.
  bool resume_ = false;
  std::size_t resumeFile_ = SIZE_MAX;
  std::int64_t resumeOffset_ = 0;
  std::int64_t resumeLimit_ = 0;  // bytes of it stored ahead; 0: one piece
  bool placedWhole_ = false;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

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
  if (o_.level < 0 || o_.level > 9) return Fail("compression level must be 0 to 9");
  if (o_.splitSize < 1 || o_.splitSize > MaxSplitSize)
    return Fail("split size must be 1 to " + std::to_string(MaxSplitSize) + " bytes");
  if (o_.diskSize < 0) return Fail("disk size must not be negative");
  if (o_.extraSpace < 0) return Fail("extra space must not be negative");
  if (o_.outPath.empty()) return Fail("no output file given");
  if (o_.jobs > MaxJobs) return Fail("jobs must be 1 to " + std::to_string(MaxJobs));
  jobs_ = o_.jobs > 0 ? o_.jobs : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, MaxJobs);

  std::string error;
  if (o_.stubPath.empty()) return Fail("no stub image given");
  if (!CheckInputFile(o_.stubPath, error)) return Fail("cannot open the stub image " + o_.stubPath + ": " + error);
  plat::File stub(o_.stubPath, plat::OpenMode::Read);
  if (!stub) return Fail("cannot open the stub image " + o_.stubPath);
  const std::int64_t stubSize = stub.size();
  if (stubSize < 0 || stubSize > 0x7FFFFFFF) return Fail("cannot read the stub image " + o_.stubPath);
  std::string stubBytes(static_cast<std::size_t>(stubSize), '\0');
  if (!stub.readAt(0, stubBytes.data(), stubSize)) return Fail("cannot read the stub image " + o_.stubPath);
  if (!CheckStubImage(stubBytes, error)) return Fail(o_.stubPath + ": " + error);
  stubSize_ = static_cast<std::uint32_t>(stubSize);

  std::string update, internet;
  if (!MakeUpdateRecord(o_.update, update, error)) return Fail("update record: " + error);
  if (o_.withInternetRecord && !MakeInternetRecord(o_.internet, internet, error))
    return Fail("internet record: " + error);

  prefix_ = std::move(stubBytes);
  auto addBlock = [this](const std::string& text) {
    unsigned char len[4];
    PutWord(len, static_cast<std::uint32_t>(text.size()));
    prefix_.append(reinterpret_cast<const char*>(len), 4);
    prefix_.append(text);
  };
  addBlock(o_.languageBlock);
  addBlock(update);
  if (o_.withInternetRecord) addBlock(internet);

  int runs = 0;
  std::set<std::string> seen;
  std::vector<std::int64_t> sizes;
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

  const std::int64_t least = static_cast<std::int64_t>(prefix_.size()) + IntegrityBlockSize + PackageHeaderSize;
  if (o_.diskSize > 0 && o_.diskSize < least + 64)
    return Fail("disk size " + std::to_string(o_.diskSize) + " cannot hold the stub image and header blocks (" +
                std::to_string(least) + " bytes)");
  return true;
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

const char* KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory: return "a folder";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::character:
    case fs::file_type::block: return "a device";
    case fs::file_type::socket: return "a socket";
    default: return "no regular file";
  }
}

// A disk file of an earlier build with more disks than this one: it ends in
// a package header.
bool IsDiskFile(const std::string& path) {
  TPackageHeader h{};
  return ReadPackageHeader(path, h) && h.magic == PackageMagic;
}

// OUT.00N past the new set, while such files exist: left from an earlier
// build with more disks, they would pass for part of this one.
void RemoveStaleDisks(const std::string& out, std::int64_t count, const OutputSet& outputs, PackResult& r) {
  for (std::int64_t n = count + 1;; ++n) {
    const std::string path = out + "." + ZeroPad(n, 3);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || !fs::exists(st)) return;
    if (!fs::is_regular_file(st) || outputs.IsInput(path) || !IsDiskFile(path)) {
      r.warnings.push_back("left " + path + ": not a disk file of an earlier build");
      continue;
    }
    if (fs::remove(path, ec)) r.removed.push_back(path);
    else r.warnings.push_back("cannot remove " + path + " left from an earlier build: " + ec.message());
  }
}

}  // namespace

bool CheckInputFile(const std::string& path, std::string& error) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) return (error = "no such file"), false;
  if (!fs::is_regular_file(st))
    return (error = std::string("it is ") + KindOf(st.type()) + ", not a regular file"), false;
  return true;
}

OutputSet::~OutputSet() {
  for (const Item& item : items_)
    if (!item.placed) {
      std::error_code ec;
      fs::remove(item.temp, ec);
    }
}

bool OutputSet::IsInput(const std::string& path) const {
  for (const std::string& input : inputs_) {
    std::error_code ec;
    if (fs::equivalent(path, input, ec)) return true;
  }
  return false;
}

std::string OutputSet::Stage(const std::string& path, std::string& error) {
  std::error_code ec;
  Item item;
  item.path = item.target = path;
  const fs::file_status link = fs::symlink_status(path, ec);
  if (fs::is_symlink(link)) {
    item.target = fs::canonical(path, ec).string();
    if (ec) return (error = "refusing to write " + path + ": a link to no file"), std::string();
  }
  const fs::file_status st = fs::status(item.target, ec);
  if (fs::exists(st) && !fs::is_regular_file(st))
    return (error = "refusing to write " + path + ": it is " + KindOf(st.type()) + ", not a regular file"),
           std::string();
  for (const std::string& input : inputs_)
    if (fs::equivalent(item.target, input, ec))
      return (error = "refusing to write " + path + ": it is an input of the build (" + input + ")"), std::string();
  const fs::path canonical = fs::weakly_canonical(item.target, ec);
  for (const Item& other : items_)
    if (fs::weakly_canonical(other.target, ec) == canonical)
      return (error = "refusing to write " + path + ": it is also " + other.path), std::string();

  // Beside the final path, so that the rename stays within one file system.
  const fs::path target(item.target);
  static std::mt19937_64 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 100 && item.temp.empty(); ++attempt) {
    const fs::path temp = target.parent_path() / ("." + target.filename().string() + ".havrek-pack-" +
                                                  std::to_string(plat::ProcessId()) + "-" +
                                                  std::to_string(rng() % 1000000000) + ".tmp");
    if (fs::exists(fs::symlink_status(temp, ec))) continue;
    if (!plat::File(temp.string(), plat::OpenMode::Create)) break;
    item.temp = temp.string();
  }
  if (item.temp.empty()) return (error = "cannot create a file beside " + path), std::string();
  // A rebuilt setup keeps the permissions the old one was given.
  if (fs::exists(st)) fs::permissions(item.temp, st.permissions(), ec);
  items_.push_back(item);
  return item.temp;
}

bool OutputSet::Commit(std::string& error) {
  for (Item& item : items_) {
    std::error_code ec;
    fs::rename(item.temp, item.target, ec);
    if (ec) return (error = "cannot put " + item.path + " in place: " + ec.message()), false;
    item.placed = true;
  }
  return true;
}

std::vector<std::string> OutputSet::Paths() const {
  std::vector<std::string> paths;
  for (const Item& item : items_) paths.push_back(item.path);
  return paths;
}

bool LanguageBlockFromText(const std::string& text, std::string& block, std::string& error) {
  block.clear();
  std::string entries;
  bool open = false;
  std::size_t lineNo = 0, pos = 0;
  while (pos <= text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    if (line.find_first_of(std::string("\0\x01\x02", 3)) != std::string::npos)
      return (error = where + "control bytes 0, 1 and 2 cannot be carried"), false;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed.front() == '[' && trimmed.back() == ']') {
      const std::string name = Trim(trimmed.substr(1, trimmed.size() - 2));
      if (name.empty()) return (error = where + "empty language name"), false;
      entries += std::string(1, kSOH) + name + kSOH + kSTX;
      open = true;
      continue;
    }
    if (!open) return (error = where + "a setting before the first [Language] line"), false;
    const std::size_t equals = line.find('=');
    const std::string key = equals == std::string::npos ? std::string() : Trim(line.substr(0, equals));
    if (key.empty()) return (error = where + "expected key=value"), false;
    // The stub forgives one blank before "=" and none after it, so a
    // hand-aligned "s0   = Setup" is stored as "s0=Setup".
    const std::size_t value = line.find_first_not_of(" \t", equals + 1);
    entries.pop_back();  // the closing STX goes after the entry's last setting
    entries += key + "=" + (value == std::string::npos ? std::string() : line.substr(value)) + kSOH + kSTX;
  }
  if (!entries.empty()) block = std::string(1, kSTX) + entries;
  return true;
}

bool MakeRecord(const std::vector<std::string>& fields, std::string& record, std::string& error) {
  record = "|";
  for (const std::string& f : fields) {
    if (f.find('|') != std::string::npos) return (error = "\"" + f + "\" must not contain \"|\""), false;
    record += f + "|";
  }
  return true;
}

bool MakeUpdateRecord(const UpdateRecordFields& f, std::string& record, std::string& error) {
  std::vector<std::string> fields{f.infoBase, f.infoName, f.agentFileName, f.token, f.silent ? "1" : "0"};
  if (!f.keys.empty()) fields.push_back(f.keys);
  return MakeRecord(fields, record, error);
}

bool MakeInternetRecord(const InternetRecordFields& f, std::string& record, std::string& error) {
  std::vector<std::string> fields{f.baseUrl, f.fileName, f.alwaysDownload ? "1" : "0", f.token, f.sizeText};
  if (!f.sha256.empty()) fields.push_back(f.sha256);
  return MakeRecord(fields, record, error);
}

std::string EntryHeader(const std::string& target, bool run, const std::string& runArgs, std::uint32_t dosDate) {
  // Read back as a signed 32-bit number, so dates from 2044 on are negative.
  return "|" + target + (run ? "*" + runArgs : std::string()) + "|" +
         std::to_string(static_cast<std::int32_t>(dosDate)) + "|";
}

bool DosDateFromEpoch(const std::string& text, std::uint32_t& dosDate, std::string& error) {
  std::int64_t seconds = 0;
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
    return (error = "\"" + text + "\" is not a number of seconds since 1970"), false;
  for (char c : text) seconds = seconds * 10 + (c - '0');
  constexpr std::int64_t first = 315532800;  // 1980-01-01 00:00:00 UTC
  seconds = std::max(seconds, first);
  const std::int64_t rest = seconds % 86400;
  int y = 0, m = 0, d = 0;
  CivilFromDays(seconds / 86400, y, m, d);
  const std::int64_t year = y, month = m, day = d;
  if (year > 2107) return (error = "\"" + text + "\" is after 2107, the last year a setup date holds"), false;
  dosDate = static_cast<std::uint32_t>(((year - 1980) << 25) | (month << 21) | (day << 16) | ((rest / 3600) << 11) |
                                       ((rest / 60 % 60) << 5) | (rest % 60 / 2));
  return true;
}

bool CheckStubImage(const std::string& bytes, std::string& error) {
  if (bytes.size() < 512) return (error = "not a stub image: shorter than 512 bytes"), false;
  if (bytes.compare(0, 2, "MZ") != 0) return (error = "not a stub image: no \"MZ\" at offset 0"), false;
  if (bytes.compare(StubPeOffset, 4, std::string("PE\0\0", 4)) != 0)
    return (error = "not a stub image: no PE header at offset 256"), false;
  if (bytes.compare(BuildLengthOffset, 8, std::string(8, '\0')) != 0)
    return (error = "not a stub image: bytes 248..255 are not zero (a package already?)"), false;
  return true;
}

void ComputeSpaceTable(const std::vector<std::int64_t>& sizes, std::int64_t extra,
                       std::uint32_t (&space)[SpaceTableSize]) {
  for (int i = 0; i < SpaceTableSize; ++i) {
    const std::int64_t cluster = i == 0 ? 1 : std::int64_t{512} << (i - 1);
    std::int64_t total = extra;
    for (std::int64_t s : sizes) total += (s + cluster - 1) / cluster * cluster;
    space[i] = static_cast<std::uint32_t>(std::min<std::int64_t>(total, 0xFFFFFFFF));
  }
}

std::string MakeInformPage(const std::string& encodedToken, const std::string& pageText, bool scramble) {
  const std::string page = "|" + encodedToken + "|||" + pageText;
  return scramble ? ScrambleText(page, true, false) : page;
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
    RemoveStaleDisks(options.outPath, writer.DiskFileCount(), outputs, result);
  }
  return result;
}

}  // namespace havrek
