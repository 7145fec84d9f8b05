#include "setup/EngineCommand.h"

#include "util/Utils.h"

namespace havrek {

std::string ThreadTokenFor(std::uint32_t threadId) { return "_" + std::to_string(threadId); }

std::string EngineAtomNameFor(const std::string& threadToken) { return kEngineAtomPrefix + threadToken; }

std::string EngineDialogClassFor(const std::string& threadToken) { return kEngineDialogClassPrefix + threadToken; }

std::string QuoteProgramPath(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') return path;
  return "\"" + path + "\"";
}

RunTarget SplitRunCommand(const std::string& runCommand, const std::string& stubArgs) {
  RunTarget t;
  const std::size_t star = runCommand.find('*');
  if (star == std::string::npos) {
    t.file = runCommand;
    t.args = stubArgs;
  } else {
    t.file = Trim(runCommand.substr(0, star));
    t.args = Trim(stubArgs + " " + Trim(runCommand.substr(star + 1)));
  }
  return t;
}

std::string RemoveSwitch(const std::string& cmd, const std::string& name) {
  if (name.empty()) return cmd;
  const std::size_t p = cmd.find(name);
  if (p == std::string::npos) return cmd;
  // The switch itself starts with "/", so at least its first character goes
  // before the next "/" can end the removal. A quoted value may hold "/"
  // (a path written with forward slashes); cutting there would leave half a
  // path and a stray quote in the command line.
  std::size_t end = p + 1;
  bool quoted = false;
  while (end < cmd.size() && (quoted || cmd[end] != '/')) {
    if (cmd[end] == '"') quoted = !quoted;
    ++end;
  }
  return cmd.substr(0, p) + cmd.substr(end);
}

std::string EngineCommandLine(const EngineCommandInput& in) {
  const RunTarget t = SplitRunCommand(in.runCommand, in.stubArgs);
  std::string cmd = QuoteProgramPath(SetTrailingBackslash(in.target, true) + t.file);
  if (!t.args.empty()) cmd += " " + t.args;
  cmd += " /TH_ID=" + in.threadToken;
  if (cmd.find("/OriginExe=") == std::string::npos) cmd += " /OriginExe=\"" + in.originExe + "\"";
  if (in.autoUpdate) cmd += " /AutoUpdateProg";
  cmd = RemoveSwitch(cmd, "/SpanCdLvl=");
  return RemoveSwitch(cmd, "/SpanDiskFName1=");
}

std::string SpanCopyCommandLine(const std::string& copyPath, const std::string& stubArgs,
                                const std::string& exePath) {
  const std::string args = stubArgs + " /SpanCdLvl=2 /SpanDiskFName1=\"" + exePath + ".001\"" + " /OriginExe=\"" +
                           exePath + "\"";
  return QuoteProgramPath(copyPath) + " " + Trim(args);
}

}  // namespace havrek
