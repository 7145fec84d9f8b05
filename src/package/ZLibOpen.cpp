#include "package/ZLibOpen.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "platform/Platform.h"

namespace havrek {

namespace {

// Indexed by 2 - code.
const char* const kErrorTexts[] = {"need dictionary", "stream end",          "",
                                   "file error",      "stream error",        "data error",
                                   "insufficient memory", "buffer error",    "incompatible version"};

[[noreturn]] void Raise(int code) { throw EZLibError(ZErrorText(code)); }

// Ends the inflater on every way out; the normal way checks the result.
class InflateStream {
 public:
  InflateStream() { ZCheck(inflateInit(&s_)); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() {
    if (open_) inflateEnd(&s_);
  }
  void end() {
    open_ = false;
    ZCheck(inflateEnd(&s_));
  }
  z_stream* operator->() { return &s_; }
  z_stream* get() { return &s_; }

 private:
  z_stream s_{};
  bool open_ = true;
};

// The input of one stream, handed to zlib in slices its 32-bit counts can hold.
struct InputFeed {
  const Bytef* next;
  std::size_t left;
  void topUp(z_stream& s) {
    if (s.avail_in != 0 || left == 0) return;
    s.next_in = const_cast<Bytef*>(next);
    s.avail_in = static_cast<uInt>(std::min<std::size_t>(left, UINT_MAX));
    next += s.avail_in;
    left -= s.avail_in;
  }
};

// One inflate call into room bytes at out; the bytes it produced. Raises on
// every error, and on a call that moved nothing, so no caller can loop or
// grow its buffer for ever.
std::size_t InflateStep(z_stream& s, char* out, std::size_t room, bool& ended) {
  room = std::min<std::size_t>(room, UINT_MAX);
  const uInt inBefore = s.avail_in;
  s.next_out = reinterpret_cast<Bytef*>(out);
  s.avail_out = static_cast<uInt>(room);
  const int rc = inflate(&s, Z_NO_FLUSH);
  const std::size_t produced = room - s.avail_out;
  ended = rc == Z_STREAM_END;
  if (ended) return produced;
  // A preset dictionary is never part of a package; asking again would
  // only grow the buffer for ever.
  if (rc == Z_NEED_DICT) Raise(Z_NEED_DICT);
  ZCheck(rc);
  if (produced == 0 && s.avail_in == inBefore) Raise(Z_BUF_ERROR);
  return produced;
}

void Resize(InflatedBuffer& buffer, std::size_t size) {
  void* grown = std::realloc(buffer.data.get(), size);
  if (!grown) Raise(Z_MEM_ERROR);
  (void)buffer.data.release();
  buffer.data.reset(static_cast<char*>(grown));
  buffer.capacity = size;
  ++buffer.reallocations;
}

}  // namespace

std::string ZErrorText(int code) {
  if (code > Z_NEED_DICT || code < Z_VERSION_ERROR) return {};
  return kErrorTexts[Z_NEED_DICT - code];
}

int ZCheck(int code) {
  if (code < 0) Raise(code);
  return code;
}

void InflateInto(const void* data, std::size_t count, InflatedBuffer& out, std::size_t limit) {
  out.size = 0;
  limit = std::max<std::size_t>(limit, 1);
  const std::size_t step = std::min(count, limit) / 256 * 256 + 256;
  if (!out.data || out.capacity == 0) Resize(out, std::min(step, limit));

  InflateStream s;
  InputFeed input{static_cast<const Bytef*>(data), count};
  std::size_t total = 0;
  for (;;) {
    input.topUp(*s.get());
    if (total >= std::min(out.capacity, limit)) {
      // Geometric growth: a linear step of the input size made a highly
      // compressed entry cost one reallocation per step.
      if (total >= limit) Raise(Z_MEM_ERROR);
      plat::ServeMessages();
      Resize(out, total + std::min(std::max(step, total / 2), limit - total));
    }
    bool ended = false;
    total += InflateStep(*s.get(), out.data.get() + total, std::min(out.capacity, limit) - total, ended);
    if (ended) break;
  }
  s.end();
  out.size = total;
}

void InflatePieces(const void* data, std::size_t count, InflatedBuffer& piece, std::size_t pieceSize,
                   const std::function<void(const char*, std::size_t)>& sink, std::size_t limit) {
  piece.size = 0;
  pieceSize = std::max<std::size_t>(pieceSize, 1);
  limit = std::max<std::size_t>(limit, 1);
  if (!piece.data || piece.capacity < pieceSize) {
    // Released first: nothing in it is needed, and realloc would copy it.
    piece.data.reset();
    piece.capacity = 0;
    Resize(piece, pieceSize);
  }

  InflateStream s;
  InputFeed input{static_cast<const Bytef*>(data), count};
  std::size_t total = 0;
  for (;;) {
    input.topUp(*s.get());
    if (piece.size == pieceSize) {
      sink(piece.data.get(), piece.size);
      piece.size = 0;
      plat::ServeMessages();
    }
    if (total >= limit) Raise(Z_MEM_ERROR);
    bool ended = false;
    const std::size_t produced = InflateStep(*s.get(), piece.data.get() + piece.size,
                                             std::min(pieceSize - piece.size, limit - total), ended);
    piece.size += produced;
    total += produced;
    if (ended) break;
  }
  s.end();
  sink(piece.data.get(), piece.size);
  piece.size = 0;
}

InflatedBuffer InflateBuffer(const void* input, std::size_t count, std::size_t estimate, std::size_t limit) {
  InflatedBuffer out;
  if (estimate != 0) Resize(out, std::min(estimate, std::max<std::size_t>(limit, 1)));
  InflateInto(input, count, out, limit);
  if (out.size > 0 && out.size < out.capacity) Resize(out, out.size);
  return out;
}

std::string InflateText(const std::string& text) {
  const InflatedBuffer b = InflateBuffer(text.data(), text.size());
  return std::string(b.data.get(), b.size);
}

}  // namespace havrek
