// SHA-256 computed by the stub itself, for the bulk hashing of packages on
// Windows: the system's provider runs at a fraction of the speed of the
// CPU's SHA instructions, where it uses none (Wine's does not), and the
// integrity check hashes every byte of a package. One portable path and one
// for the x86 SHA extensions, chosen once at run time; both are tested
// against the published test vectors and the system's digest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace havrek::plat {

enum class Sha256Path { portable, cpuInstructions };

// Whether this CPU has the SHA extensions (and the SSE levels they need).
bool CpuHasShaInstructions();

// Compresses blocks 64-byte blocks of data into state, by the given path
// (cpuInstructions only where CpuHasShaInstructions()).
void Sha256Blocks(Sha256Path path, std::uint32_t (&state)[8], const unsigned char* data, std::size_t blocks);

// The streaming digest over Sha256Blocks, on the fastest path this CPU has.
class Sha256Stream {
 public:
  Sha256Stream();
  explicit Sha256Stream(Sha256Path path);
  void update(const void* data, std::size_t count);
  void final(unsigned char (&digest)[32]);

 private:
  std::uint32_t state_[8];
  std::uint64_t bytes_ = 0;
  unsigned char block_[64];
  std::size_t held_ = 0;
  Sha256Path path_;
};

}  // namespace havrek::plat
