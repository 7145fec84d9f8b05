#include "package/PackPipeline.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>

namespace havrek {

EntryStore::~EntryStore() {
  if (ready_) deflateEnd(&z_);
}

bool EntryStore::Store(const std::string& header, const plat::File& in, std::int64_t offset, std::int64_t size,
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

ChunkPipeline::ChunkPipeline(const std::vector<SourceFile>& sources, std::int64_t splitSize, int level, int jobs)
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

ChunkPipeline::~ChunkPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& t : threads_) t.join();
}

std::shared_ptr<Chunk> ChunkPipeline::Next() {
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

void ChunkPipeline::Restart(std::size_t file, std::int64_t offset) {
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

std::shared_ptr<Chunk> ChunkPipeline::MakeChunk(std::size_t file, std::int64_t offset) {
  auto c = std::make_shared<Chunk>();
  c->file = file;
  c->offset = offset;
  c->length = std::min(splitSize_, sources_[file].size - offset);
  return c;
}

// The next piece after those queued: up to the split size of what is left
// of a file; an empty file is one empty piece.
void ChunkPipeline::PlanMain() {
  std::shared_ptr<Chunk> c = MakeChunk(nextFile_, nextOffset_);
  nextOffset_ += c->length;
  if (nextOffset_ >= sources_[nextFile_].size) ++nextFile_, nextOffset_ = 0;
  planned_ += c->length;
  queue_.push_back(std::move(c));
}

// The next piece of a restarted file: after its pieces at the front of the
// queue, before those of later files.
void ChunkPipeline::PlanResume() {
  std::shared_ptr<Chunk> c = MakeChunk(resumeFile_, resumeOffset_);
  resumeOffset_ += c->length;
  resume_ = resumeOffset_ < sources_[resumeFile_].size;
  planned_ += c->length;
  queue_.insert(queue_.begin() + ResumePrefix(), std::move(c));
}

std::size_t ChunkPipeline::ResumePrefix() const {
  std::size_t n = 0;
  while (n < queue_.size() && queue_[n]->file == resumeFile_) ++n;
  return n;
}

bool ChunkPipeline::MayPlanResume() const {
  if (!resume_ || queue_.size() >= maxPlanned_) return false;
  std::int64_t ahead = 0;
  for (std::size_t i = 0; i < ResumePrefix(); ++i) ahead += queue_[i]->length;
  return ahead == 0 || ahead + std::min(splitSize_, sources_[resumeFile_].size - resumeOffset_) <= resumeLimit_;
}

bool ChunkPipeline::MayPlanMain() const {
  if (nextFile_ == sources_.size() || queue_.size() >= maxPlanned_) return false;
  const std::int64_t next = std::min(splitSize_, sources_[nextFile_].size - nextOffset_);
  return queue_.empty() || planned_ + next <= budget_;
}

// An error travels with the piece to the placing thread, which fails the
// build when the piece's turn comes.
void ChunkPipeline::Process(Chunk& c, EntryStore& store) {
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

void ChunkPipeline::Work() {
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

}  // namespace havrek
