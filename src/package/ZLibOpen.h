// Inflation of the package's compressed entries (single zlib streams), whole or
// a block at a time, with zlib's failures turned into one exception type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace havrek {

// The one exception that leaves a unit: a compressed entry did not expand.
// what() is the text of the zlib result code ("data error", "buffer error",
// "need dictionary", "insufficient memory", ...).
class EZLibError : public std::runtime_error {
 public:
  explicit EZLibError(const std::string& message) : std::runtime_error(message) {}
};

// The code itself when it is 0 or more; raises EZLibError for negative codes.
int ZCheck(int code);
// The message of a zlib result code; empty for 0 and unknown codes.
std::string ZErrorText(int code);

// No genuine entry expands beyond this: the writer stores at most
// MaxSplitSize (1 GiB) data bytes per entry, and its header line is short.
// A stream that goes on past it is hostile or broken, and raises
// "insufficient memory" instead of taking the machine's memory.
inline constexpr std::size_t kInflateLimit = (std::size_t{1} << 30) + (std::size_t{1} << 20);

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

// Expanded bytes in a malloc'ed block, released by the owner.
struct InflatedBuffer {
  std::unique_ptr<char, FreeDeleter> data;
  std::size_t size = 0;      // bytes expanded
  std::size_t capacity = 0;  // bytes allocated
  // Allocations of the block so far: copying it on every small step made a
  // highly compressed stream cost time in the square of its size.
  std::size_t reallocations = 0;
};

// Expands one zlib stream. estimate (0: none) sizes the first buffer; the
// buffer then grows geometrically. Raises EZLibError for corrupt or
// incomplete data, a stream that asks for a preset dictionary, output beyond
// limit, and memory that cannot be had; nothing is left allocated then.
InflatedBuffer InflateBuffer(const void* input, std::size_t count, std::size_t estimate = 0,
                             std::size_t limit = kInflateLimit);
// The same into out's block, grown only when a stream needs more: a walk that
// expands entry after entry allocates (and touches) no more than its largest.
// out keeps its block whatever happens; out.size is 0 after an error.
void InflateInto(const void* input, std::size_t count, InflatedBuffer& out, std::size_t limit = kInflateLimit);
// The same a block at a time through piece's block (pieceSize bytes): sink
// gets each full block while the stream goes on, then the rest (possibly
// nothing) once the stream has ended whole. A stream that fits in one block
// reaches sink only after it has been checked; what sink got before an error
// is not to be kept.
void InflatePieces(const void* input, std::size_t count, InflatedBuffer& piece, std::size_t pieceSize,
                   const std::function<void(const char*, std::size_t)>& sink, std::size_t limit = kInflateLimit);
std::string InflateText(const std::string& text);

}  // namespace havrek
