// Arbitrary bytes as delimited lists: reads stay inside the list, writes
// read back, and nothing hangs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/HSUB.h"

using havrek::SUB;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte picks the index; the rest is split into list and value at the
  // first 0x0A so both can hold any other byte.
  const int index = static_cast<int>(static_cast<std::int8_t>(data[0])) % 40;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = rest.find('\n');
  const std::string list = rest.substr(0, cut);
  const std::string value = cut == std::string::npos ? std::string() : rest.substr(cut + 1);

  const int count = SUB::FieldCount(list);
  if (count < 0 || static_cast<std::size_t>(count) > list.size()) std::abort();
  const std::string field = SUB::GetField(list, index, "?");
  if (field != "?" && field.size() >= list.size()) std::abort();
  (void)SUB::GetFieldInt(list, index, -1);
  (void)SUB::GetValue(list, value, "absent", "empty");
  (void)SUB::NewDelimiter(list);

  if (index >= 0) {
    const std::string written = SUB::SetField(list, index, value);
    if (written.empty() || SUB::FieldCount(written) <= index) std::abort();
    // A value that survives re-delimiting reads back unchanged.
    const std::string back = SUB::GetField(written, index, "");
    if (written[0] != '\0' && back != value) std::abort();
  }
  return 0;
}
