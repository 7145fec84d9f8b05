// Arbitrary texts through the message box's mark-up: the plain text never
// grows beyond the line-break expansion, bold ranges stay inside it, and no
// mark-up of the line-break kind survives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/Markup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const havrek::MarkupText m = havrek::ParseMarkup(text);

  // "\\n" (3 bytes) and "<P>" (3 bytes) become 2; "<T>" and "\\t" become 1.
  if (m.plain.size() > text.size()) std::abort();
  for (const havrek::BoldRange& r : m.bold) {
    if (r.start < 0 || r.start >= r.end || r.end > static_cast<std::int64_t>(m.plain.size())) std::abort();
  }
  const std::string converted = havrek::ConvertMarkup(text);
  if (converted.size() > text.size()) std::abort();

  const havrek::BoxSize estimate =
      havrek::EstimateTextSize(m.plain, 13, [](const std::string& line) { return static_cast<int>(line.size()) * 7; });
  if (estimate.width < 10 || estimate.width > havrek::kMaxLineWidth || estimate.height < 13) std::abort();
  return 0;
}
