#include "platform/Platform.h"

#include <atomic>

namespace havrek::plat {
namespace {

std::atomic<LeadByteTest> g_leadByteTest{nullptr};

}  // namespace

bool IsLeadByte(unsigned char c) {
  const LeadByteTest test = g_leadByteTest.load();
  return test != nullptr && test(c);
}

void SetLeadByteTest(LeadByteTest test) { g_leadByteTest.store(test); }

// Loops because a single read or write may move fewer bytes than asked.
std::int64_t File::read(void* buffer, std::int64_t count) const {
  auto* out = static_cast<unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t got = Read(id_, out + done, count - done);
    if (got < 0) return done > 0 ? done : -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool File::writeAll(const void* data, std::int64_t count) const {
  const auto* in = static_cast<const unsigned char*>(data);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t put = Write(id_, in + done, count - done);
    if (put <= 0) return false;
    done += put;
  }
  return true;
}

}  // namespace havrek::plat
