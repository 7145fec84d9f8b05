#include "environment/RunTimeDir.h"

#include <array>

namespace havrek {
namespace {

constexpr char kUnresolved[] = "*";

std::array<std::string, kRunTimeDirSlots>& Slots() {
  static std::array<std::string, kRunTimeDirSlots> slots = [] {
    std::array<std::string, kRunTimeDirSlots> s;
    s.fill(kUnresolved);
    return s;
  }();
  return slots;
}

std::string ResolveSlot(int /*slot*/) { return std::string(); }

}  // namespace

std::string RunTimeDirSlot(int slot) {
  if (slot < 1 || slot > kRunTimeDirSlots) return std::string();
  std::string& cached = Slots()[static_cast<std::size_t>(slot - 1)];
  if (cached == kUnresolved) cached = ResolveSlot(slot);
  return cached;
}

}  // namespace havrek
