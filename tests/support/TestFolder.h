// A fresh folder for one test under the system's temporary folder (named
// after the process and the running test, so parallel runs never share one),
// and reading back what was written there.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Platform.h"

namespace havrek::test {

inline std::filesystem::path FreshTestFolder(const std::string& unit) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("havrek_" + unit + "_" + std::to_string(plat::ProcessId()) + "_" +
                                     (info ? info->name() : "setup"));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// The whole file; empty when it cannot be read.
inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 32-bit word as the package format stores it (little-endian hosts).
inline std::string Word(std::uint32_t w) { return std::string(reinterpret_cast<const char*>(&w), 4); }

}  // namespace havrek::test
