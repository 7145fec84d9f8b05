// A fresh folder for one test under the system's temporary folder: named
// after the process and the running test, so parallel runs never share one.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
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

}  // namespace havrek::test
