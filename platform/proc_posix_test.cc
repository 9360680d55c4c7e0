#include "platform/proc_posix.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/temp_dir.h"

namespace tw {
namespace {

// A key is found at the start of a line only, the first line included.
TEST(ProcPosixTest, FieldsOfAStatusFile) {
  TempDir dir;
  const std::string file = dir.path() + "status";
  std::ofstream(file) << "Name:\ttempwarden\nNoUmask:\t0777\nUmask:\t0022\nVmSize:\t  1024 kB";
  const struct {
    const char* key;
    bool found;
    const char* value;
  } cases[] = {
      {"Name:", true, "\ttempwarden"},  {"Umask:", true, "\t0022"},
      {"VmSize:", true, "\t  1024 kB"},  // the last line, without a line end
      {"TracerPid:", false, ""},        {"mask:", false, ""},
  };
  for (const auto& c : cases) {
    std::string value;
    EXPECT_EQ(ReadProcField(file.c_str(), c.key, &value), c.found) << c.key;
    if (c.found) EXPECT_EQ(value, c.value) << c.key;
  }
  std::string value;
  EXPECT_FALSE(ReadProcField((dir.path() + "missing").c_str(), "Umask:", &value));
  EXPECT_TRUE(ReadProcField("/proc/self/status", "Umask:", &value));
}

}  // namespace
}  // namespace tw
