// FNV-1a, 64 bits, over raw bytes: a spread that is the same on every
// machine and every build, for names and choices that must repeat. No
// protection against chosen input; nothing here is a digest to trust.
// Header-only and on nothing of ours, so that the platform seam may use it.
#pragma once

#include <cstdint>
#include <string_view>

namespace havrek {

inline constexpr std::uint64_t Fnv1a64(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

}  // namespace havrek
