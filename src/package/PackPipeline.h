// Entries stored ahead of the thread that places them (used by the package
// writer): one deflate stream per thread, and the worker threads that store
// the pieces of the sources in their order within a memory budget.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace havrek {

// A 32-bit word of the format (little-endian, as this machine) at p.
inline void PutWord(unsigned char* p, std::uint32_t w) { std::memcpy(p, &w, 4); }

// Entries as stored: the signed length and the bytes after it. One per
// thread; the stream is kept from entry to entry.
class EntryStore {
 public:
  explicit EntryStore(int level) : level_(level) {}
  EntryStore(const EntryStore&) = delete;
  EntryStore& operator=(const EntryStore&) = delete;
  ~EntryStore();

  // Reads size bytes of in at offset into the entry; false when they cannot
  // all be read. Throws std::bad_alloc when memory runs out.
  bool Store(const std::string& header, const plat::File& in, std::int64_t offset, std::int64_t size,
             std::string& stored);

 private:
  int level_;
  bool ready_ = false;
  z_stream z_{};
};

// A file to pack: where it is read, the entry header of its pieces.
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
  ChunkPipeline(const std::vector<SourceFile>& sources, std::int64_t splitSize, int level, int jobs);
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;
  // Pieces still being stored are finished and dropped.
  ~ChunkPipeline();

  // The next piece in order, stored (or with its error); null after the last.
  std::shared_ptr<Chunk> Next();

  // The piece just taken was cut: the rest of its file goes on from offset.
  // Its pieces stored ahead are dropped, those of later files kept; until a
  // piece of it is placed whole, its pieces are stored one at a time, as
  // the next is likely cut again to fill the same disk.
  void Restart(std::size_t file, std::int64_t offset);

 private:
  std::shared_ptr<Chunk> MakeChunk(std::size_t file, std::int64_t offset);
  void PlanMain();
  void PlanResume();
  std::size_t ResumePrefix() const;
  bool MayPlanResume() const;
  bool MayPlanMain() const;
  void Process(Chunk& c, EntryStore& store);
  void Work();

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

}  // namespace havrek
