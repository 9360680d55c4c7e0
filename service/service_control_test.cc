#include "service/service_control.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace tw {
namespace {

struct RecordingStatus : StatusSink {
  void Report(ServiceState s) override { states.push_back(s); }
  std::vector<ServiceState> states;
};

using S = ServiceState;

TEST(ControlQueueTest, StopAndShutdownTerminate) {
  for (ControlCode code : {ControlCode::kStop, ControlCode::kShutdown}) {
    RecordingStatus status;
    ControlQueue queue(&status);
    queue.Post(code);
    EXPECT_FALSE(queue.Terminated());  // only ProcessRequests acts on a request
    queue.ProcessRequests();
    EXPECT_TRUE(queue.Terminated());
    EXPECT_EQ(status.states, std::vector<S>{S::kStopPending});
  }
}

TEST(ControlQueueTest, PauseHoldsTheServiceThreadUntilContinue) {
  RecordingStatus status;
  ControlQueue queue(&status);
  queue.SetState(S::kRunning);
  // The control handler's continue arrives while the service thread stands paused.
  queue.on_paused = [&] {
    queue.Post(ControlCode::kInterrogate);
    queue.Post(ControlCode::kContinue);
  };
  queue.Post(ControlCode::kPause);
  queue.ProcessRequests();
  EXPECT_FALSE(queue.Terminated());
  EXPECT_EQ(status.states, (std::vector<S>{S::kRunning, S::kPausePending, S::kPaused, S::kPaused,
                                           S::kContinuePending, S::kRunning}));
}

TEST(ControlQueueTest, StopWhilePausedEndsThePause) {
  RecordingStatus status;
  ControlQueue queue(&status);
  queue.on_paused = [&] { queue.Post(ControlCode::kStop); };
  queue.Post(ControlCode::kPause);
  queue.ProcessRequests();
  EXPECT_TRUE(queue.Terminated());
}

TEST(RunServiceThreadTest, OrderOfStatesAndEscapingFailures) {
  RecordingStatus status;
  ControlQueue queue(&status);
  std::vector<std::string> events;
  std::vector<std::string> log;
  ServiceDefinition def;
  def.start = [&](bool& started) {
    events.push_back("start:" + std::to_string(started));
    throw std::runtime_error("no disk");
  };
  def.execute = [&](ServiceControl& control) {
    events.push_back("execute");
    queue.Post(ControlCode::kStop);  // handled by the final ProcessRequests
    EXPECT_FALSE(control.Terminated());
  };
  RunServiceThread(def, queue, [&](const std::string& text) { log.push_back(text); });
  EXPECT_EQ(events, (std::vector<std::string>{"start:1", "execute"}));
  EXPECT_EQ(log, std::vector<std::string>{"Service failed on start: no disk"});
  EXPECT_EQ(status.states,
            (std::vector<S>{S::kStartPending, S::kRunning, S::kStopPending, S::kStopped}));
}

}  // namespace
}  // namespace tw
