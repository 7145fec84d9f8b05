// The fixture of havrek-pack's command-line tests: a fresh folder for each
// test, files put there and read back, and commands run in it through the
// shell, the real havrek-pack among them.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "TestFolder.h"

#if defined(HAVREK_PACK_EXE)

namespace havrek::test {

// The least the tool takes as a stub: "MZ", and "PE" at 256.
inline std::string StubImage() {
  std::string stub(4096, '\0');
  stub.replace(0, 2, "MZ");
  stub.replace(256, 4, std::string("PE\0\0", 4));
  return stub;
}

inline bool HaveOpenssl() { return std::system("openssl version >/dev/null 2>&1") == 0; }

class PackCli : public ::testing::Test {
 protected:
  // unit: the start of the test folder's name.
  explicit PackCli(std::string unit) : unit_(std::move(unit)) {}
  void SetUp() override { dir_ = FreshTestFolder(unit_); }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // Path, quoted for the shell.
  std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }
  // Writes name, with the folders it lies in; its path.
  std::string Put(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories((dir_ / name).parent_path());
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  std::string Get(const std::string& name) const { return Slurp(dir_ / name); }

  // Runs command through the shell in the test folder, after the variable
  // assignments in env; its exit code, -1 when it did not exit. Standard
  // output goes to out.txt, standard error with it or, when err is asked
  // for, apart to err.txt.
  int Shell(const std::string& command, std::string* out = nullptr, std::string* err = nullptr,
            const std::string& env = "") const {
    const std::string cmd = "cd '" + dir_.string() + "' && " + env + " " + command + " >out.txt " +
                            (err ? "2>err.txt" : "2>&1");
    const int rc = std::system(cmd.c_str());
    if (out) *out = Output();
    if (err) *err = Get("err.txt");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  // havrek-pack with args, given a minute; as Shell.
  int Tool(const std::string& args, std::string* out = nullptr, std::string* err = nullptr,
           const std::string& env = "") const {
    return Shell(std::string("timeout 60 '") + HAVREK_PACK_EXE + "' " + args, out, err, env);
  }
  // What the last command wrote to out.txt.
  std::string Output() const { return Get("out.txt"); }

  std::filesystem::path dir_;

 private:
  std::string unit_;
};

}  // namespace havrek::test

#endif
