// Delimited lists: one string whose first character is its own delimiter.
// "|Error|Attention|Confirm|" holds fields 0..2; text after the last
// delimiter belongs to no field; an empty and a missing field read alike.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

class SUB {
 public:
  SUB() = delete;

  // The characters tried, in order, when a list must be re-delimited.
  static constexpr char kCandidateDelimiters[] = "|*^!~@#$&\xFF";

  // Delimiters after the first character when the list is closed by its own
  // delimiter; 0 otherwise.
  static int FieldCount(const std::string& list);
  static std::string GetField(const std::string& list, int index, const std::string& def = "");
  static std::int32_t GetFieldInt(const std::string& list, int index, std::int32_t def);
  // The text after "name=" up to the next delimiter, the name matched
  // ignoring case at the start of a field.
  static std::string GetValue(const std::string& list, const std::string& name,
                              const std::string& defAbsent, const std::string& defEmpty);
  // A new list with field index replaced; missing fields up to it are added
  // empty. Re-delimited when the value or a field holds the delimiter.
  static std::string SetField(const std::string& list, int index, const std::string& value);
  // Replaces the list's first character (its delimiter, normally NUL) with
  // the first candidate that does not occur in the list.
  static std::string NewDelimiter(const std::string& list);
};

}  // namespace havrek
