#include "files/Files.h"

#include "platform/Platform.h"

namespace havrek {

bool AppendText(const std::string& path, const std::string& bytes, std::uint32_t dosDate) {
  const plat::File file(path, plat::OpenMode::Write);
  if (!file || file.seek(0, 2) < 0) return false;
  const bool all = file.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  if (all && dosDate != 0) plat::SetDosDate(file.get(), dosDate);
  return all;
}

}  // namespace havrek
