#include "net/DownloadSink.h"

#include <new>

#include "net/InetText.h"

namespace havrek {

DownloadSink MemorySink(std::string& body) {
  DownloadSink sink;
  sink.write = [&body](const char* data, std::size_t count, std::int64_t received) {
    try {
      body.append(data, count);
    } catch (const std::bad_alloc&) {
      return "not enough memory for " + std::to_string(received) + " bytes";
    }
    return std::string();
  };
  sink.isErrorPage = [&body] { return IsErrorPage(std::string(), body); };
  return sink;
}

}  // namespace havrek
