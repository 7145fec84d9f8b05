// Command lines the setup flow starts programs with: the setup engine's
// (its place in the unpacked folder, the stub's and its own arguments, the
// handshake switches) and the span copy's. Pure text work, so that every
// rule can be checked without starting anything.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

inline constexpr char kEngineAtomPrefix[] = "AutoUpdateAtomTokenByHavrek";
inline constexpr char kEngineDialogClassPrefix[] = ".SDialog_Class_Name.";

// "_" + the decimal thread id.
std::string ThreadTokenFor(std::uint32_t threadId);
std::string EngineAtomNameFor(const std::string& threadToken);
std::string EngineDialogClassFor(const std::string& threadToken);

// The path in double quotes when it holds a blank (and is not quoted yet):
// without them the system would start the part before the blank.
std::string QuoteProgramPath(const std::string& path);

// The run command the extraction reports ("file" or "file*args") split into
// the file and the arguments to start it with: stubArgs, then its own ones,
// each trimmed, one blank between.
struct RunTarget {
  std::string file;
  std::string args;
};
RunTarget SplitRunCommand(const std::string& runCommand, const std::string& stubArgs);

// Removes the switch (matched with case), its value and the blanks after it,
// up to the next "/" that is not inside double quotes; the blank before it
// stays. Only the first occurrence goes.
std::string RemoveSwitch(const std::string& cmd, const std::string& name);

struct EngineCommandInput {
  std::string target;      // folder the package was unpacked into
  std::string runCommand;  // as reported by the extraction
  std::string stubArgs;    // the stub's own arguments
  std::string threadToken;
  std::string originExe;   // the running executable's full path
  bool autoUpdate = false;
};
// target\file [args] /TH_ID=<token> [/OriginExe="<exe>"] [/AutoUpdateProg],
// without the span switches. An "/OriginExe=" already in the arguments is
// kept and no second one is added.
std::string EngineCommandLine(const EngineCommandInput& in);

// The span copy's command line: the copy, the stub's arguments, the first
// disk's name and the origin, both in quotes.
std::string SpanCopyCommandLine(const std::string& copyPath, const std::string& stubArgs,
                                const std::string& exePath);

}  // namespace havrek
