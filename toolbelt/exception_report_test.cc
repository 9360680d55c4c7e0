#include "toolbelt/exception_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "tests/test_settings.h"
#include "toolbelt/activity_log.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/host_info.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using Tone = FakeSpeaker::Tone;

constexpr char kReportDir[] = "/opt/tempwarden/";

class ExceptionReportTest : public ::testing::Test {
 protected:
  ExceptionReportTest() {
    env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 14, 3, 7, 123));
    env_.clock.set_tick(788645000u);  // 1 week, 2 days, 3 h, 4 min, 5 s
    ctx_.settings.Log.LastDay = static_cast<int64_t>(env_.clock.Now());
    env_.host.memory.total_virtual = 4000000000ull;
    env_.host.memory.avail_virtual = 3000000000ull;
  }

  // Report files in the executable's directory, by name.
  std::map<std::string, std::string> Reports() const {
    std::map<std::string, std::string> out;
    for (const auto& f : env_.files.files()) {
      const std::string name = f.first.substr(f.first.rfind('/') + 1);
      if (name.rfind("E!", 0) == 0) out[name] = f.second;
    }
    return out;
  }

  static tExceptionRec LogEntryFailure() {
    tExceptionRec rec;
    rec.Function = "toolbelt.LogEntry";
    rec.ClassName = "EInOutError";
    rec.Message = "I/O error <5> & more\r\nsecond line";
    rec.Trace = 120;
    rec.Notes = "a&b<c>";
    rec.FileName = "E!RAZIVED-{timestamp}.XML";
    rec.Beep = true;
    return rec;
  }

  FakeEnv env_;
  Context& ctx_ = env_.ctx;
};

TEST_F(ExceptionReportTest, GoldenReportToneAndAnnouncement) {
  std::string name = "stale";
  SaveExceptionRecAsXML(ctx_, LogEntryFailure(), name);

  EXPECT_EQ(name, "E!RAZIVED-20250314140307123.XML");
  // Values are escaped ("<", "&", ">"); CR LF stays, so the message spans two lines.
  EXPECT_EQ(env_.files.Get(std::string(kReportDir) + name),
            "<xml>\r\n"
            "<Exception>\r\n"
            "<DateTime>2025-03-14 14:03:07.123</DateTime>\r\n"
            "<MachineUpTime>1w2d03h04m05s</MachineUpTime>\r\n"
            "<UsedMemory>25.00% (1,000,000,000) </UsedMemory>\r\n"
            "<SelfName>VOZIvazure</SelfName>\r\n"
            "<Version>1.0.0.1</Version>\r\n"
            "<Function>toolbelt.LogEntry:120</Function>\r\n"
            "<Trace>120</Trace>\r\n"
            "<CallingFunction></CallingFunction>\r\n"
            "<HostName>SRV1</HostName>\r\n"
            "<ClassName>EInOutError</ClassName>\r\n"
            "<e.Message>I/O error &lt;5&gt; &amp; more\r\nsecond line</e.Message>\r\n"
            "<SQL></SQL>\r\n"
            "<Notes>a&amp;b&lt;c&gt;</Notes>\r\n"
            "<Count>0</Count>\r\n"
            "</Exception>\r\n"
            "</xml>\r\n");
  EXPECT_EQ(env_.files.writes.size(), 1u);
  EXPECT_FALSE(env_.files.writes[0].append);

  EXPECT_THAT(env_.speaker.tones,
              ElementsAre(Tone{200, 50}, Tone{400, 50}, Tone{800, 50}, Tone{1600, 50}));

  // Broadcast through every local address to port 514; code 5003 is priority 0, ID 05003.
  ASSERT_EQ(env_.network.sent.size(), 1u);
  const FakeNetwork::Datagram& d = env_.network.sent[0];
  EXPECT_EQ(d.to_ipv4, "255.255.255.255");
  EXPECT_EQ(d.to_port, 514);
  EXPECT_TRUE(d.broadcast_enabled);
  EXPECT_EQ(d.payload,
            "<0>VOZIvazure:00001 EXCEPTION:Func=toolbelt.LogEntry Trace=120 "
            "File=\"E!RAZIVED-20250314140307123.XML\" SelfNameVOZIvazure Version=1.0.0.1 "
            "H=\"SRV1\" (ID=05003)");
}

TEST_F(ExceptionReportTest, RegionalSeparators) {
  FormatSettings german = GermanSettings();
  german.time_separator = '.';
  env_.regional.mutable_settings() = german;
  std::string name;
  SaveExceptionRecAsXML(ctx_, LogEntryFailure(), name);
  const std::string report = env_.files.Get(std::string(kReportDir) + name);
  EXPECT_NE(report.find("<DateTime>2025-03-14 14.03.07.123</DateTime>\r\n"), std::string::npos);
  EXPECT_NE(report.find("<UsedMemory>25,00% (1.000.000.000) </UsedMemory>\r\n"), std::string::npos);
}

TEST_F(ExceptionReportTest, FileNamePatterns) {
  struct Case {
    const char* pattern;
    const char* name;
  } cases[] = {
      {"", "E!VOZIvazure-20250314140307123.xml"},
      {"E!RAZIVED-{timestamp}.XML", "E!RAZIVED-20250314140307123.XML"},
      {"{selfname}-{selfname}-{timestamp}-{timestamp}.x",
       "VOZIvazure-{selfname}-20250314140307123-{timestamp}.x"},
      {"fixed.xml", "fixed.xml"},
  };
  for (const auto& c : cases) {
    // An hour on the tick between the reports, so that none is held back as a repeat.
    env_.clock.set_tick(env_.clock.TickCount() + kOneHourMs);
    tExceptionRec rec = LogEntryFailure();
    rec.FileName = c.pattern;
    std::string name;
    SaveExceptionRecAsXML(ctx_, rec, name);
    EXPECT_EQ(name, c.name) << c.pattern;
    EXPECT_TRUE(env_.files.Has(std::string(kReportDir) + c.name)) << c.pattern;
  }
}

TEST_F(ExceptionReportTest, NoBeepNoTonesButEverythingElse) {
  tExceptionRec rec = LogEntryFailure();
  rec.Beep = false;
  std::string name;
  SaveExceptionRecAsXML(ctx_, rec, name);
  EXPECT_TRUE(env_.speaker.tones.empty());
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_EQ(env_.network.sent.size(), 1u);
}

TEST_F(ExceptionReportTest, NoSpeakerNoTones) {
  ctx_.env.speaker = nullptr;
  std::string name;
  SaveExceptionRecAsXML(ctx_, LogEntryFailure(), name);
  EXPECT_EQ(name, "E!RAZIVED-20250314140307123.XML");
  EXPECT_EQ(env_.network.sent.size(), 1u);
}

TEST_F(ExceptionReportTest, SkippedWithoutSelfName) {
  ctx_.settings.SelfName.clear();
  std::string name = "stale";
  SaveExceptionRecAsXML(ctx_, LogEntryFailure(), name);
  EXPECT_EQ(name, "");
  EXPECT_TRUE(env_.files.writes.empty());
  EXPECT_TRUE(env_.speaker.tones.empty());
  EXPECT_TRUE(env_.network.sent.empty());
  EXPECT_EQ(ctx_.settings.SyslogSequence, 0);
}

TEST_F(ExceptionReportTest, UnwritableReportStillSignalsAndAnnounces) {
  env_.files.fail_all_writes = true;
  std::string name;
  SaveExceptionRecAsXML(ctx_, LogEntryFailure(), name);
  EXPECT_EQ(name, "E!RAZIVED-20250314140307123.XML");
  EXPECT_EQ(env_.speaker.tones.size(), 4u);
  EXPECT_EQ(env_.network.sent.size(), 1u);
}

// A speaker that fails on every tone, a millisecond later each time so that every report
// gets a name of its own.
class BrokenSpeaker : public Speaker {
 public:
  explicit BrokenSpeaker(FakeClock* clock) : clock_(clock) {}
  void Beep(uint32_t, uint32_t) override {
    ++calls;
    clock_->Advance(1);
    throw std::runtime_error("speaker gone");
  }
  int calls = 0;

 private:
  FakeClock* clock_;
};

TEST_F(ExceptionReportTest, WriterFailureReportsItselfOnceThenStops) {
  BrokenSpeaker speaker(&env_.clock);
  ctx_.env.speaker = &speaker;
  std::string name;
  SaveExceptionRecAsXML(ctx_, LogEntryFailure(), name);

  // The report asked for was written before the signal failed, and is the output.
  EXPECT_EQ(name, "E!RAZIVED-20250314140307123.XML");
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u);
  const std::string& self = reports.at("E!RAZIVED-20250314140307124.XML");
  EXPECT_NE(self.find("<Function>toolbelt.SaveExceptionRecAsXML:460</Function>\r\n"),
            std::string::npos);
  EXPECT_NE(self.find("<e.Message>speaker gone</e.Message>\r\n"), std::string::npos);
  // The nested report fails the same way and is not reported again.
  EXPECT_EQ(speaker.calls, 2);
  EXPECT_TRUE(env_.network.sent.empty());
}

TEST_F(ExceptionReportTest, UnreadableMemoryFiguresDoNotRecurse) {
  env_.host.memory_ok = false;
  // The same failure reached through the host facts, which report through the writer.
  tMemoryStatusRec memory;
  GetMemoryStatus(ctx_, memory);
  EXPECT_FALSE(memory.Valid);

  // One report from GetMemoryStatus; the nested one about the writer's own figures is the
  // same function and message, so it is held back as a repeat.
  ASSERT_EQ(env_.network.sent.size(), 1u);
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  const std::string& report = reports.begin()->second;
  EXPECT_NE(report.find("<Function>toolbelt.GetMemoryStatus:100</Function>"), std::string::npos);
  EXPECT_NE(report.find("<UsedMemory>100.00% (0) </UsedMemory>"), std::string::npos);
}

// A fault met on every pass leaves one report an hour per function and message; the next
// report counts those held back, which left no file, tone or datagram.
TEST_F(ExceptionReportTest, RepeatsAreHeldBackForAnHourAndCounted) {
  struct Step {
    uint32_t after_ms;  // on the tick (and the wall clock) since the step before
    const char* function;
    const char* message;
    bool written;
    const char* count;
  } steps[] = {
      {0, "snmp.SNMPSend", "Host not found", true, "0"},
      {30000, "snmp.SNMPSend", "Host not found", false, nullptr},
      {30000, "snmp.SNMPSend", "Timeout", true, "0"},               // another message
      {30000, "APC.GoogleChartTemp", "Host not found", true, "0"},  // another function
      {30000, "snmp.SNMPSend", "Host not found", false, nullptr},
      {kOneHourMs - 120000, "snmp.SNMPSend", "Host not found", true, "2"},
      {1, "snmp.SNMPSend", "Host not found", false, nullptr},
      {kOneHourMs, "snmp.SNMPSend", "Host not found", true, "1"},
  };
  size_t reports = 0;
  for (const auto& step : steps) {
    env_.clock.Advance(step.after_ms);
    tExceptionRec rec = LogEntryFailure();
    rec.Function = step.function;
    rec.Message = step.message;
    const size_t sent = env_.network.sent.size();
    const size_t tones = env_.speaker.tones.size();
    std::string name = "stale";
    SaveExceptionRecAsXML(ctx_, rec, name);
    const std::string what = std::string(step.function) + " " + step.message;
    if (!step.written) {
      EXPECT_EQ(name, "") << what;
      EXPECT_EQ(Reports().size(), reports) << what;
      EXPECT_EQ(env_.network.sent.size(), sent) << what;
      EXPECT_EQ(env_.speaker.tones.size(), tones) << what;
      continue;
    }
    ++reports;
    ASSERT_EQ(Reports().size(), reports) << what;
    EXPECT_EQ(env_.network.sent.size(), sent + 1) << what;
    EXPECT_THAT(env_.files.Get(std::string(kReportDir) + name),
                ::testing::HasSubstr(std::string("<Count>") + step.count + "</Count>\r\n"))
        << what;
  }
}

// Reports in the same millisecond each keep a file of their own; the first keeps the plain
// name. A pattern without a time stamp names one file, which each report replaces.
TEST_F(ExceptionReportTest, ReportsInOneMillisecondGetDistinctNames) {
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"E!RAZIVED-{timestamp}.XML",
       {"E!RAZIVED-20250314140307123.XML", "E!RAZIVED-20250314140307123-2.XML",
        "E!RAZIVED-20250314140307123-3.XML"}},
      {"", {"E!VOZIvazure-20250314140307123.xml", "E!VOZIvazure-20250314140307123-2.xml"}},
      {"fixed.xml", {"fixed.xml", "fixed.xml"}},
  };
  for (const auto& c : cases) {
    FakeEnv env;
    env.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 14, 3, 7, 123));
    for (size_t i = 0; i < c.names.size(); ++i) {
      tExceptionRec rec = LogEntryFailure();
      rec.FileName = c.pattern;
      rec.Message = "failure " + std::to_string(i);  // not a repeat
      std::string name;
      SaveExceptionRecAsXML(env.ctx, rec, name);
      EXPECT_EQ(name, c.names[i]) << c.pattern;
      EXPECT_THAT(env.files.Get(std::string(kReportDir) + name),
                  ::testing::HasSubstr("<e.Message>failure " + std::to_string(i) + "<"))
          << c.pattern;
    }
  }
}

// The day change of the activity log purges the reports with it: those dated before the
// window go, files that only look like reports stay.
TEST_F(ExceptionReportTest, ReportsArePurgedWithTheActivityLog) {
  ctx_.settings.Log.PurgeDays = 2;
  const std::vector<std::string> before = {
      "E!RAZIVED-20250312235959999.XML",    // the day before the window
      "E!RAZIVED-20250313000000000.XML",    // the first day of the window
      "E!RAZIVED-20250313000000000-2.XML",  // ... and its twin of the same millisecond
      "e!raZIVED-20250101000000000.xml",    // letter case ignored, as on Windows
      "E!RAZIVED-20250101000000000-x.XML",  // no serial
      "E!RAZIVED-2025010100000000.XML",     // 16 digits
      "E!RAZIVED-notes.XML",
      "E!VOZIvazure-20240101000000000.xml",  // the default pattern's name
      "E!Other-20240101000000000.xml",
  };
  for (const auto& name : before) env_.files.Put(std::string(kReportDir) + name, "x");
  env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 0, 0, 1, 0));
  ctx_.settings.Log.LastDay = static_cast<int64_t>(EncodeDate(2025, 3, 13));
  std::string log_file;
  tLogRec entry;
  entry.Code = 50200;
  LogEntry(ctx_, entry, log_file);

  std::vector<std::string> left;
  for (const auto& r : Reports()) left.push_back(r.first);
  EXPECT_THAT(left, ::testing::UnorderedElementsAre(
                        "E!RAZIVED-20250313000000000.XML", "E!RAZIVED-20250313000000000-2.XML",
                        "E!RAZIVED-20250101000000000-x.XML", "E!RAZIVED-2025010100000000.XML",
                        "E!RAZIVED-notes.XML", "E!Other-20240101000000000.xml"));
}

TEST_F(ExceptionReportTest, GuardedBodyLeavesReportWithItsStage) {
  int32_t trace = 100;
  const bool completed = Guarded(ctx_, "APC.GoogleChartTemp", trace, [&] {
    trace = 240;
    throw Fault("EConvertError", "'x' is not a valid floating point value");
  });
  EXPECT_FALSE(completed);
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports.begin()->first, "E!RAZIVED-20250314140307123.XML");
  EXPECT_NE(reports.begin()->second.find("<Function>APC.GoogleChartTemp:240</Function>"),
            std::string::npos);
  EXPECT_NE(reports.begin()->second.find("<ClassName>EConvertError</ClassName>"),
            std::string::npos);
}

TEST_F(ExceptionReportTest, FailureSummaryGoesToTheActivityLog) {
  try {
    throw Fault("EIdSocketError", "Socket Error # 10065\r\nNo route to host.\r\nmore");
  } catch (...) {
    ReportAndLogCurrentException(ctx_, "TVOZIvazure.ServiceExecute", 310);
  }
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_EQ(env_.files.Get("/opt/tempwarden/APC-20250314.CSV"),
            "14:03:07.123,\"[14:03:07.123]\",\"RAZ-IVED  \",30000,"
            "\"[Function=TVOZIvazure.ServiceExecute][ClassName=EIdSocketError]"
            "[Message=Socket Error # 10065No route to host.  more][Trace=310]"
            "[FileName=E!RAZIVED-{timestamp}.XML][Notes=]\"\r\n");
}

TEST(FailureSummaryTest, CommonForm) {
  tExceptionRec rec;
  rec.Function = "apc.PhoneHome";
  rec.ClassName = "EConvertError";
  rec.Message = "no line break";
  rec.Trace = 0;
  rec.FileName = "E!RAZIVED-{timestamp}.XML";
  rec.Notes = "n";
  EXPECT_EQ(FailureSummary(rec),
            "[Function=apc.PhoneHome][ClassName=EConvertError][Message=no line break][Trace=0]"
            "[FileName=E!RAZIVED-{timestamp}.XML][Notes=n]");
  // An answer quoted in the message can neither break the line nor forge an item.
  rec.Message = "'27\r\n][Code=50200' is not a valid floating point value";
  EXPECT_EQ(FailureSummary(rec),
            "[Function=apc.PhoneHome][ClassName=EConvertError]"
            "[Message='27)(Code=50200' is not a valid floating point value][Trace=0]"
            "[FileName=E!RAZIVED-{timestamp}.XML][Notes=n]");
}

}  // namespace
}  // namespace tw
