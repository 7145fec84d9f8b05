#include "util/HSUB.h"

#include <vector>

#include "util/Utils.h"

namespace havrek {

namespace {

bool IsEmptyList(const std::string& list) { return list.empty() || list == std::string(1, '\0'); }

// Fields closed by a delimiter, in order.
std::vector<std::string> ClosedFields(const std::string& list) {
  std::vector<std::string> fields;
  if (IsEmptyList(list)) return fields;
  const char d = list[0];
  std::size_t start = 1;
  for (std::size_t next; (next = list.find(d, start)) != std::string::npos; start = next + 1)
    fields.push_back(list.substr(start, next - start));
  return fields;
}

char FreeCandidate(const std::string& text) {
  for (const char* c = SUB::kCandidateDelimiters; *c; ++c)
    if (text.find(*c) == std::string::npos) return *c;
  return '\0';
}

}  // namespace

int SUB::FieldCount(const std::string& list) {
  if (list.empty() || list.front() != list.back()) return 0;
  int count = 0;
  for (std::size_t i = 1; i < list.size(); ++i)
    if (list[i] == list[0]) ++count;
  return count;
}

std::string SUB::GetField(const std::string& list, int index, const std::string& def) {
  if (index < 0 || IsEmptyList(list)) return def;
  const char d = list[0];
  std::size_t start = 1;
  for (int counter = 0;; ++counter) {
    const std::size_t next = list.find(d, start);
    if (next == std::string::npos) return def;
    if (counter == index) return next > start ? list.substr(start, next - start) : def;
    start = next + 1;
  }
}

std::int32_t SUB::GetFieldInt(const std::string& list, int index, std::int32_t def) {
  return TextToInt32(GetField(list, index), def);
}

std::string SUB::GetValue(const std::string& list, const std::string& name,
                          const std::string& defAbsent, const std::string& defEmpty) {
  if (list.size() <= 2 || list.front() != list.back()) return defAbsent;
  const std::string d(1, list[0]);
  std::string key = d + name;
  if (!EndsWith("=", name, false)) key += '=';

  std::string work = ReplaceAll(list, d + " ", d);
  work = ReplaceAll(work, " =", "=");

  const std::int64_t pos = PosNoCase(key, work);
  if (pos == 0) return defAbsent;
  const std::size_t from = static_cast<std::size_t>(pos - 1) + key.size();
  const std::size_t end = work.find(d[0], from);
  std::string value = work.substr(from, end == std::string::npos ? std::string::npos : end - from);
  return value.empty() ? defEmpty : value;
}

std::string SUB::SetField(const std::string& list, int index, const std::string& value) {
  const std::string source = IsEmptyList(list) ? std::string("|") : list;
  const char d = source[0];
  int n = FieldCount(source);
  if (index >= n) n = index + 1;

  const std::vector<std::string> old = ClosedFields(source);
  std::vector<const std::string*> fields;
  fields.reserve(static_cast<std::size_t>(n));
  bool delimiterInside = false;
  for (int i = 0; i < n; ++i) {
    static const std::string kEmpty;
    const std::string* f = i == index ? &value
                           : static_cast<std::size_t>(i) < old.size() ? &old[static_cast<std::size_t>(i)]
                                                                      : &kEmpty;
    if (f->find(d) != std::string::npos) delimiterInside = true;
    fields.push_back(f);
  }

  // Joined directly with the chosen delimiter rather than through a
  // NUL-delimited draft, so that a NUL inside a value stays a NUL.
  std::string joinedText;
  for (const std::string* f : fields) joinedText += *f;
  char delimiter = d;
  if (delimiterInside) delimiter = FreeCandidate(joinedText);

  std::string result(1, delimiter);
  for (const std::string* f : fields) {
    result += *f;
    result += delimiter;
  }
  return result;
}

std::string SUB::NewDelimiter(const std::string& list) {
  if (list.empty()) return list;
  const char c = FreeCandidate(list);
  if (c == '\0') return list;
  return ReplaceChar(list, list[0], c);
}

}  // namespace havrek
