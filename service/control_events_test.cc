// The request queue's wake-up events and exit code: what the cycle's and the network's waits
// see of the requests, and what the manager is told at the end.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "platform/fake_env.h"
#include "service/service_control.h"

namespace tw {
namespace {

TEST(ControlEventsTest, RequestsRaiseTheEventsUntilHandled) {
  struct Case {
    ControlCode code;
    bool stop_raised;     // at once, at Post
    bool requests_after;  // still raised once ProcessRequests has handled it
  } cases[] = {
      {ControlCode::kInterrogate, false, false},
      {ControlCode::kContinue, false, false},
      {ControlCode::kStop, true, true},
      {ControlCode::kShutdown, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    FakeWakeEvent requests, stop;
    ControlQueue queue(nullptr, &requests, &stop);
    queue.ProcessRequests();
    EXPECT_FALSE(requests.Raised());
    queue.Post(c.code);
    EXPECT_TRUE(requests.Raised());
    EXPECT_EQ(stop.Raised(), c.stop_raised);
    queue.ProcessRequests();
    EXPECT_EQ(requests.Raised(), c.requests_after);
    EXPECT_EQ(stop.Raised(), c.stop_raised);
  }
}

TEST(ControlEventsTest, TheExitCodeGoesWithTheStoppedReport) {
  struct Sink : StatusSink {
    void Report(ServiceState s) override { states.push_back(static_cast<int>(s)); }
    void ReportStopped(uint32_t code) override { stopped_with.push_back(code); }
    std::vector<int> states;
    std::vector<uint32_t> stopped_with;
  };
  struct Case {
    const char* name;
    std::function<void(ServiceControl&)> execute;
    uint32_t code;
  } cases[] = {
      {"returns", [](ServiceControl&) {}, 0},
      {"sets the failure", [](ServiceControl& c) { c.SetExitCode(kExitCycleFailed); },
       kExitCycleFailed},
      {"throws", [](ServiceControl&) { throw std::runtime_error("boom"); }, kExitCycleFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sink sink;
    ControlQueue queue(&sink);
    ServiceDefinition service;
    service.execute = c.execute;
    RunServiceThread(service, queue, nullptr);
    EXPECT_EQ(sink.stopped_with, std::vector<uint32_t>{c.code});
    EXPECT_EQ(queue.exit_code(), c.code);
    EXPECT_EQ(queue.state(), ServiceState::kStopped);
  }
}

}  // namespace
}  // namespace tw
