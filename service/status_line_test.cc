#include "service/status_line.h"

#include <gtest/gtest.h>

#include "toolbelt/fake_context.h"
#include "toolbelt/text_time.h"

namespace tw {
namespace {

// The status line says what the service knows of its UPS, and since when.
TEST(StatusLineTest, NoUpsNoAnswerOrTheReadingWithItsTime) {
  FakeEnv env;
  tUPSAttributes ups;
  ups.InternalTemp = 27;
  ups.InputVoltage = 230;
  ups.UPSState = "OnLine";
  const TDateTime at = env.clock.Now();
  const TDateTime silent = at - 1.0 / 24;
  const std::string at_text = DateTimeToStr(env.ctx, at);
  const std::string silent_text = DateTimeToStr(env.ctx, silent);
  struct Case {
    tServiceStatus status;
    std::string line;
  } cases[] = {
      {{false, true, 0, at}, "No UPS configured (UPSHost is empty)"},
      {{true, true, 0, 0}, "Waiting for the first reading"},
      {{true, true, silent, at},
       "[UPSTemp=27][UPSInputVoltage=230][UPSState=OnLine][At=" + at_text + "]"},
      {{true, false, silent, at}, "UPS not answering since " + silent_text},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServiceStatusLine(env.ctx, ups, c.status), c.line);
  }
}

}  // namespace
}  // namespace tw
