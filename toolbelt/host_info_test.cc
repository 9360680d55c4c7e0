#include "toolbelt/host_info.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

class HostInfoTest : public ::testing::Test {
 protected:
  FakeEnv env_;
  Context& ctx_ = env_.ctx;
};

TEST_F(HostInfoTest, MachineUpTime) {
  struct Case {
    uint32_t ticks;
    const char* text;
    double days;
  } cases[] = {
      {0, "0w0d00h00m00s", 0},
      {604800000u, "1w0d00h00m00s", 7},
      {788645999u, "1w2d03h04m05s", 9 + 3 / 24.0 + 4 / 1440.0 + 5 / 86400.0},  // ms dropped
      {4294967295u, "7w0d17h02m47s", 49 + 17 / 24.0 + 2 / 1440.0 + 47 / 86400.0},
  };
  for (const auto& c : cases) {
    env_.clock.set_tick(c.ticks);
    tMachineUpTime up;
    MachineUpTime(ctx_, up);
    EXPECT_EQ(up.UpTimeText, c.text);
    EXPECT_EQ(up.Ticks, c.ticks);
    EXPECT_NEAR(up.Days, c.days, 1e-9);
  }
  // Past 2^32 ms the count starts again from zero.
  env_.clock.set_tick(4294967295u);
  env_.clock.Advance(1001);
  tMachineUpTime up;
  MachineUpTime(ctx_, up);
  EXPECT_EQ(up.UpTimeText, "0w0d00h00m01s");
  EXPECT_EQ(up.Ticks, 1000);
}

TEST_F(HostInfoTest, FileVersion2) {
  env_.host.versions["/opt/tempwarden/tempwarden"] = {1u << 16 | 2u, 3u << 16 | 65535u};
  EXPECT_EQ(FileVersion2(ctx_, ""), "1.2.3.65535");  // empty path: the own executable
  EXPECT_EQ(FileVersion2(ctx_, "/opt/tempwarden/tempwarden"), "1.2.3.65535");
  EXPECT_EQ(FileVersion2(ctx_, "/opt/other.exe"), "");
}

TEST_F(HostInfoTest, GetHostNameStoresAndCuts) {
  env_.host.computer_name = std::string(300, 'N');
  ctx_.settings.HostName.clear();
  EXPECT_EQ(GetHostName(ctx_), std::string(253, 'N'));
  EXPECT_EQ(ctx_.settings.HostName, std::string(253, 'N'));
}

TEST_F(HostInfoTest, ExePathOfPosixAndWindowsModules) {
  EXPECT_EQ(GetEXEPath(ctx_), "/opt/tempwarden/");
  env_.files.delimiters = "\\/:";
  env_.host.module_path = "\\\\?\\C:\\Svc\\x.exe";
  EXPECT_EQ(GetEXEPath(ctx_), "C:\\Svc\\");
  env_.host.module_path = "C:\\Program Files\\Tempwarden\\tempwarden.exe";
  EXPECT_EQ(GetEXEPath(ctx_), "C:\\Program Files\\Tempwarden\\");
}

TEST_F(HostInfoTest, SetPathToEXEPath) {
  ctx_.settings.ExePath.clear();
  EXPECT_EQ(SetPathToEXEPath(ctx_), "/opt/tempwarden/");
  EXPECT_EQ(ctx_.settings.ExePath, "/opt/tempwarden/");
  env_.host.module_path = "/nowhere/tempwarden";
  EXPECT_EQ(SetPathToEXEPath(ctx_), "Error - /nowhere/");
  EXPECT_EQ(ctx_.settings.ExePath, "/opt/tempwarden/");  // unchanged
}

TEST_F(HostInfoTest, DataDirectoryOfTheCommandLineTakesThePlaceOfTheProgramsFolder) {
  env_.files.AddDirectory("/var/lib/tempwarden");
  struct Case {
    std::string data_dir;
    std::string expected;
  } cases[] = {
      {"", "/opt/tempwarden/"},
      {"/var/lib/tempwarden", "/var/lib/tempwarden/"},
      {"/var/lib/tempwarden/", "/var/lib/tempwarden/"},
      {"/var/lib/missing", "Error - /var/lib/missing/"},
  };
  for (const auto& c : cases) {
    ctx_.settings.ExePath = "/before/";
    ctx_.layout.DataDir = c.data_dir;
    EXPECT_EQ(SetPathToEXEPath(ctx_), c.expected) << c.data_dir;
    EXPECT_EQ(ctx_.settings.ExePath, c.expected.rfind("Error", 0) == 0 ? "/before/" : c.expected)
        << c.data_dir;
  }
}

TEST_F(HostInfoTest, GetMemoryStatus) {
  env_.host.memory = {25, 1000, 250, 3000, 1500, 4000, 1000};
  tMemoryStatusRec m;
  m.MemoryLoad = 99;
  GetMemoryStatus(ctx_, m);
  EXPECT_TRUE(m.Valid);
  EXPECT_EQ(m.MemoryLoad, 25);
  EXPECT_EQ(m.UsedPhysical, 750);
  EXPECT_DOUBLE_EQ(m.AvailPhysicalPct, 25.0);
  EXPECT_EQ(m.UsedPageFile, 1500);
  EXPECT_DOUBLE_EQ(m.AvailPageFilePct, 50.0);
  EXPECT_EQ(m.UsedVirtual, 3000);
  EXPECT_DOUBLE_EQ(m.AvailVirtualPct, 25.0);

  // A zero total fails the percentages: the record stays invalid, the figures read stay.
  env_.host.memory.total_page_file = 0;
  GetMemoryStatus(ctx_, m);
  EXPECT_FALSE(m.Valid);
  EXPECT_EQ(m.TotalPhysical, 1000);
  EXPECT_DOUBLE_EQ(m.AvailPhysicalPct, 25.0);

  env_.host.memory_ok = false;
  GetMemoryStatus(ctx_, m);
  EXPECT_FALSE(m.Valid);
  EXPECT_EQ(m.TotalPhysical, 0);
}

TEST(RealHostFactsTest, FactsOfThisMachine) {
  FakeEnv env;
  std::unique_ptr<HostFacts> host = NewSystemHostFacts();
  env.ctx.env.host = host.get();

  EXPECT_FALSE(GetHostName(env.ctx).empty());
  tMemoryStatusRec m;
  GetMemoryStatus(env.ctx, m);
  EXPECT_TRUE(m.Valid);
  EXPECT_GT(m.TotalPhysical, 0);
  EXPECT_GT(m.AvailVirtualPct, 0);
  EXPECT_LE(m.MemoryLoad, 100);

  // Every build of the program carries its four-part version; other files carry none.
  EXPECT_EQ(FileVersion2(env.ctx, ""), TW_TEST_VERSION);
  TempDir dir;
  std::ofstream(dir.path() + "plain.txt") << "\x01TWFILEVERSION=1.2";
  EXPECT_EQ(FileVersion2(env.ctx, dir.path() + "plain.txt"), "");
  EXPECT_EQ(FileVersion2(env.ctx, dir.path() + "missing.exe"), "");
}

}  // namespace
}  // namespace tw
