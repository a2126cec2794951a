// The command line's own system file on Windows: what a file is before a load (the reserved
// device names are devices wherever they are named), port names that are one port, and folders
// that cannot take logs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/cli/FileCheck.h"
#include "app/cli/PortNames.h"
#include "app/cli/System.h"
#include "base/FileOpen.h"

namespace bm::cli {
namespace {

namespace fs = std::filesystem;

TEST(CliOnWindows, WhatAFileIsIsToldBeforeItIsRead) {
  const fs::path dir = fs::temp_directory_path() / u8"bm-cli-J\u00fcrgen";
  fs::create_directories(dir);
  const fs::path hex = dir / u8"bl\u00efnk.hex";
  std::ofstream(hex) << ":00000001FF\n";
  const struct {
    std::string file;
    std::optional<std::string> why;
  } cases[] = {
      {NameFromPath(hex), std::nullopt},  // a name that is not ASCII is a name like any other
      {NameFromPath(dir), "is a directory"},
      {NameFromPath(dir / "missing.hex"), "no such file"},
      {NameFromPath(dir / "missing" / "x.hex"), "no such file"},
      {"NUL", "is not a regular file (a pipe, a device or a socket)"},
      {"CON", "is not a regular file (a pipe, a device or a socket)"},
      {"COM1", "is not a regular file (a pipe, a device or a socket)"},
      {"\\\\.\\pipe\\brindlemark", "is not a regular file (a pipe, a device or a socket)"},
  };
  for (const auto& c : cases) EXPECT_EQ(WhyNotLoadable(c.file), c.why) << c.file;
  EXPECT_EQ(WhyNoLogs(NameFromPath(hex)), "not a directory");
  EXPECT_EQ(WhyNoLogs(NameFromPath(dir / "logs")), std::nullopt) << "made when missing";
  EXPECT_TRUE(fs::is_directory(dir / "logs"));
  fs::remove_all(dir);
}

TEST(CliOnWindows, NamesOfOnePortAreOneDevice) {
  EXPECT_EQ(DeviceOf(ResolvedPortName("com10")), "COM10");
  EXPECT_EQ(DeviceOf(ResolvedPortName("\\\\.\\COM10")), "COM10");
  EXPECT_EQ(DeviceOf(ResolvedPortName("COM3")), "COM3");
  EXPECT_EQ(DeviceOf("sim"), "sim");
  EXPECT_EQ(PortFolder("COM3"), "") << "a COM port is no entry of a folder";
  EXPECT_FALSE(PortsAppearInFolders());
  EXPECT_FALSE(PortPresent("COM239"));
  const std::optional<std::string> folder = MakePrivateFolder();
  ASSERT_TRUE(folder);
  EXPECT_TRUE(fs::is_directory(PathFromName(*folder)));
  const std::optional<std::string> another = MakePrivateFolder();
  EXPECT_NE(another, folder) << "a new one each time";
  for (const auto& made : {folder, another})
    if (made) fs::remove_all(PathFromName(*made));
}

}  // namespace
}  // namespace bm::cli
