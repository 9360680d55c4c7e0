#include "toolbelt/items.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tw {
namespace {

TEST(ItemsTest, KeysAndValuesInBracketsInOrder) {
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {Items().str(), ""},
      {Items().Add("Function", "toolbelt.LogEntry").str(), "[Function=toolbelt.LogEntry]"},
      {Items().Add("Notes", "").str(), "[Notes=]"},
      {Items().Add("Trace", 310).Add("Result", int32_t{-10060}).Add("Kept", size_t{3}).str(),
       "[Trace=310][Result=-10060][Kept=3]"},
      {Items().Add("Message", "a]b=c[").str(), "[Message=a]b=c[]"},  // values go in as they are
      {Items().Add("Msg", "x").Append("[Host=SRV1][UPSTemp=27]").Add("Seconds", 3).str(),
       "[Msg=x][Host=SRV1][UPSTemp=27][Seconds=3]"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, c.expected);
}

}  // namespace
}  // namespace tw
