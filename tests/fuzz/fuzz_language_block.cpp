// Arbitrary bytes as a language block and as a plain language file: lookups
// stay inside the block, and every setting the writer stores is what the
// stub's lookup finds for its key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/SLangId.h"
#include "util/HSUB.h"
#include "util/Utils.h"

using namespace havrek;

namespace {

void LookUpRawBlock(const std::string& block, int id) {
  const std::string name = LanguageNameForId(id);
  if (!name.empty() && LanguageIdTable().find(name) == std::string::npos) std::abort();
  for (const std::string& wanted : {name, std::string("English")}) {
    const std::string entry = FindLanguageEntry(block, wanted);
    if (entry != "*" && (entry.empty() || block.find(entry) == std::string::npos)) std::abort();
    for (const char* key : {"s0", "s12", "BtnText", "FontSize", ""}) {
      const std::string value = SUB::GetValue(entry, key, "\x7f", "");
      if (value != "\x7f" && value.size() >= entry.size()) std::abort();
    }
  }
}

// The value the lookup must give for key: that of the entry's first field
// that starts with key= (ignoring case), after the reader's forgiveness of
// one blank before "=".
bool ExpectedValue(const std::string& entry, const std::string& key, std::string& value) {
  const int n = SUB::FieldCount(entry);
  for (int i = 0; i < n; ++i) {
    const std::string field = ReplaceAll(SUB::GetField(entry, i), " =", "=");
    if (StartsWith(key + "=", field, true)) {
      value = field.substr(key.size() + 1);
      return true;
    }
  }
  return false;
}

void RoundTripLanguageFile(const std::string& text) {
  std::string block, error;
  if (!LanguageBlockFromText(text, block, error)) {
    if (error.empty()) std::abort();
    return;
  }
  const int languages = SUB::FieldCount(block);
  if (block.empty() != (languages == 0)) std::abort();
  for (int i = 0; i < languages; ++i) {
    const std::string entry = SUB::GetField(block, i);
    const std::string name = SUB::GetField(entry, 0);
    if (name.empty() || name != Trim(name)) std::abort();
    const int fields = SUB::FieldCount(entry);
    for (int j = 1; j < fields; ++j) {
      const std::string setting = SUB::GetField(entry, j);
      const std::size_t equals = setting.find('=');
      if (equals == std::string::npos || equals == 0) std::abort();
      const std::string key = setting.substr(0, equals);
      if (key != Trim(key)) std::abort();
      std::string expected;
      if (!ExpectedValue(entry, key, expected)) std::abort();
      if (SUB::GetValue(entry, key, "\x7f", "") != expected) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::int32_t id = static_cast<std::int8_t>(data[0]);
  if (size >= 4) std::memcpy(&id, data, 4);
  LookUpRawBlock(bytes.substr(1), data[0] & 1 ? id : data[0]);
  RoundTripLanguageFile(bytes);
  (void)LanguageDefault(bytes);
  return 0;
}
