// Arbitrary command lines and names through the switch readers and the text
// functions they rest on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/Utils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Pieces separated by 0x0A: command line, name (or old text), new text.
  const std::size_t a = input.find('\n');
  const std::string first = input.substr(0, a);
  const std::size_t b = a == std::string::npos ? std::string::npos : input.find('\n', a + 1);
  const std::string second = a == std::string::npos ? std::string() : input.substr(a + 1, b - a - 1);
  const std::string third = b == std::string::npos ? std::string() : input.substr(b + 1);

  const std::string args = havrek::CmdLineArgsOf(first, second);
  if (args.size() > first.size()) std::abort();
  (void)havrek::SwitchListOf(first, '/', '\x01');
  (void)havrek::GetSwitchIn(first, second, "def");
  (void)havrek::GetSwitchIntIn(first, second, -1);
  (void)havrek::HasSwitchIn(first, second);

  const std::string replaced = havrek::ReplaceAll(first, second, third);
  if (second.empty() && replaced != first) std::abort();
  if (third.empty() && !second.empty() && replaced.find(second) != std::string::npos) std::abort();
  (void)havrek::ReplaceAllNoCase(first, second, third);

  const std::string collapsed = havrek::CollapseBackslashes(first, !third.empty());
  if (collapsed.size() > first.size()) std::abort();
  (void)havrek::SetTrailingBackslash(first, true);
  (void)havrek::FileNameNoExt(first, !second.empty());
  (void)havrek::Dequote(first, '"', !second.empty(), !third.empty());
  (void)havrek::HexToBytes(first);
  return 0;
}
