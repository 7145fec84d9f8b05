// Where a download's bytes go: into memory, or through a side file into a
// target file. The transfer itself knows neither; it hands every round of
// bytes to the sink, and at the end has the sink keep them or drop them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace havrek {

// The steps, in the order the transfer takes them: write for every round,
// close once no more bytes come, then isErrorPage when the answer was a
// failed request, and keep (all went well so far) or discard (it did not).
// An empty hook is skipped. The failure texts are details for
// ReadFailedText.
struct DownloadSink {
  // received counts this round's bytes already. Empty, or why they could
  // not be taken.
  std::function<std::string(const char* data, std::size_t count, std::int64_t received)> write;
  std::function<void()> close;
  // Whether the bytes so far look like an HTML error page (IsErrorPage).
  std::function<bool()> isErrorPage;
  // Makes the received bytes the result. Empty, or why they cannot be.
  std::function<std::string(std::int64_t received)> keep;
  // Leaves nothing of the download behind.
  std::function<void()> discard;
};

// Appends to body. A failed download leaves what arrived there: callers
// only look at it after success.
DownloadSink MemorySink(std::string& body);

#ifdef _WIN32
// Writes to the side file of the target (SideFileName of the answer's size
// and date), which takes the target's name only once the whole body is in;
// an old target stays until then. Left-overs of earlier downloads go first.
DownloadSink SideFileSink(const std::string& target, std::int64_t size, std::uint32_t dosDate);
#endif

}  // namespace havrek
