#include "ups/chart.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/files.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kDir[] = "/opt/tempwarden/";

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The page as a browser receives it, around the given chart rows.
std::string ExpectedPage(const std::vector<std::string>& rows, bool refresh) {
  std::vector<std::string> lines = {
      "<!DOCTYPE html>",
      "<html>",
      "  <!--",
      "    FUNCTION: APC.GoogleChartTemp",
      "    CREATED: 14/03/2025 13:10:00",
      "    VERSION: 1.0.0.1",
      "    SELFNAME: VOZIvazure",
      "    PERIOD: 1",
      "    STARTPERIOD: 12/03/25",
      "    ENDPERIOD: 13/03/25",
      "  -->",
      "",
      "  <head>",
      "    <title>Ferrin UPS Temps</title>",
      "    <meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">",
      "    <meta http-equiv=\"Content-Language\" content=\"en-au\">",
  };
  if (refresh) lines.push_back("    <meta http-equiv=\"refresh\" content=\"300\">");
  const std::vector<std::string> script = {
      "    <script type=\"text/javascript\" src=\"https://www.gstatic.com/charts/loader.js\">"
      "</script>",
      "    <script type=\"text/javascript\">",
      "      google.charts.load('current',{packages:['corechart']});",
      "      google.charts.setOnLoadCallback(drawBasic);",
      "",
      "      function drawBasic() {",
      "        var data=new google.visualization.DataTable();",
      "        data.addColumn('string','X');",
      "        data.addColumn('number','Temp');",
      "        data.addRows([",
  };
  lines.insert(lines.end(), script.begin(), script.end());
  lines.insert(lines.end(), rows.begin(), rows.end());
  const std::vector<std::string> tail = {
      "        ]);",
      "",
      "        var options={",
      "          title:'14/03/2025: 24 hour UPS Temps at 13:10:00',",
      "          curveType:'line',",
      "          legend:{position:'bottom'},",
      "          hAxis:{",
      "            title:'Time'",
      "          },",
      "          vAxis:{",
      "            title:'Temp'",
      "          },",
      "          backgroundColor:'#f1f8e9'",
      "        };",
      "",
      "        var chart=new google.visualization.LineChart(document.getElementById('chart_div'));",
      "",
      "        chart.draw(data,options);",
      "      }",
      "    </script>",
      "  </head>",
      "",
      "  <body>",
      "  <div id=\"chart_div\" style=\"width:900px; height:1200px;\"></div>",
      "  </body>",
      "</html>",
  };
  lines.insert(lines.end(), tail.begin(), tail.end());
  return Join(lines);
}

class ChartTest : public ::testing::Test {
 protected:
  ChartTest() {
    env_.regional.mutable_settings() = EnglishSettings();
    env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 13, 10, 0, 0));
    // The cycle's record: set up at its start, the day before.
    chart_.Period = 1.0;
    chart_.EndPeriod = EncodeDateTimeOrThrow(2025, 3, 13, 9, 0, 0, 0);
    SetDayChart(env_.ctx, chart_);
  }
  void Put(const std::string& name, const std::string& text) { env_.files.Put(kDir + name, text); }
  std::string File(const std::string& name) const { return env_.files.Get(kDir + name); }
  std::string Log() const { return File("APC-20250314.CSV"); }

  FakeEnv env_;
  tGoogleChart chart_;
};

TEST_F(ChartTest, DayPageByteForByte) {
  Put("day.csv", "\"#\",\"TIME\",\"TEMP\"\r\n157,13:10,27\r\n158,13:15,27.5\r\n");
  EXPECT_EQ(GoogleChartTemp(env_.ctx, "day.csv", chart_),
            ExpectedPage({"          ['13:10',27],", "          ['13:15',27.5],"}, true));
  EXPECT_THAT(Log(), HasSubstr(",66065,\"[Function=APC.GoogleChartTemp][Period=1]\"\r\n"));
}

TEST_F(ChartTest, NoRefreshLineForZero) {
  chart_.Refresh = 0;
  EXPECT_EQ(GoogleChartTemp(env_.ctx, "missing.csv", chart_), ExpectedPage({}, false));
}

TEST_F(ChartTest, RowsOfEveryKindOfFile) {
  struct Case {
    const char* name;
    bool german;
    std::string csv;
    std::vector<std::string> rows;
  } cases[] = {
      {"missing file", false, "", {}},
      {"without header", false, "157,13:10,27\r\n", {"          ['13:10',27],"}},
      {"annual",
       false,
       "\"#\",\"DATE\",\"AVG TEMP\"\r\n45,14/2,26.9\r\n46,15/2,27.0\r\n",
       {"          ['14/2',26.9],", "          ['15/2',27.0],"}},
      {"comma decimal",
       true,
       "\"#\",\"TIME\",\"TEMP\"\r\n157,13:10,27,5\r\n158,13:15,-1\r\n",
       {"          ['13:10',27.5],", "          ['13:15',-1],"}},
      {"no rows to draw",
       false,
       "\r\n157,13:10\r\n158,13:15,27,5\r\n159,13:20,');alert(1);//\r\n"
       "160,');alert(1);//,27\r\n161,</script>,27\r\n162,a\\,27\r\n",
       {}},
  };
  for (const Case& c : cases) {
    env_.regional.mutable_settings() = c.german ? GermanSettings() : EnglishSettings();
    env_.files.RemoveFile(std::string(kDir) + "in.csv");
    if (!c.csv.empty()) Put("in.csv", c.csv);
    const std::string page = GoogleChartTemp(env_.ctx, "in.csv", chart_);
    const std::string head_end = "        data.addRows([\r\n";
    const size_t from = page.find(head_end) + head_end.size();
    const size_t to = page.find("        ]);\r\n");
    ASSERT_NE(to, std::string::npos) << c.name;
    EXPECT_EQ(page.substr(from, to - from), Join(c.rows)) << c.name;
  }
}

// A page drawn while the rows of the last one are remembered is the page drawn without them,
// whatever became of the file in between.
TEST_F(ChartTest, RememberedRowsGiveThePageOfAFreshReading) {
  const std::string head = "\"#\",\"TIME\",\"TEMP\"\r\n";
  const std::string day = head + "157,13:10,27\r\n158,13:15,27.5\r\n";
  struct Step {
    const char* name;
    bool german;
    std::string csv;
  } steps[] = {
      {"first page", false, day},
      {"the same file", false, day},
      {"a row more", false, day + "159,13:20,28\r\n"},
      {"a row written half", false, day + "159,13:20,28\r\n160,13:2"},
      {"the half row completed", false, day + "159,13:20,28\r\n160,13:25,29\r\n"},
      {"a row edited", false, head + "157,13:10,26\r\n158,13:15,27.5\r\n"},
      {"a comma decimal", true, head + "157,13:10,26\r\n158,13:15,27.5\r\n159,13:20,28,5\r\n"},
      {"a new day", true, head},
      {"line ends without feeds", false, "157,13:10,27\r158,13:15,28\r"},
      {"the last line doubled", false, "157,13:10,27\r158,13:15,28\r158,13:15,28\r"},
  };
  for (const Step& c : steps) {
    env_.regional.mutable_settings() = c.german ? GermanSettings() : EnglishSettings();
    Put("in.csv", c.csv);
    const std::string page = GoogleChartTemp(env_.ctx, "in.csv", chart_);
    const tChartRowMemory memory = env_.ctx.chart_rows;
    env_.ctx.chart_rows = tChartRowMemory();
    EXPECT_EQ(page, GoogleChartTemp(env_.ctx, "in.csv", chart_)) << c.name;
    env_.ctx.chart_rows = memory;
  }
}

TEST_F(ChartTest, UnreadableFileGivesTheHeadAndAReport) {
  env_.files.AddDirectory(std::string(kDir) + "day.csv");
  const std::string page = GoogleChartTemp(env_.ctx, "day.csv", chart_);
  const std::string full = ExpectedPage({}, true);
  EXPECT_EQ(page, full.substr(0, full.find("        ]);\r\n")));
  std::string report_name;
  for (const auto& f : env_.files.files()) {
    if (f.first.find("/E!RAZIVED-") != std::string::npos) report_name = f.first;
  }
  ASSERT_FALSE(report_name.empty());
  EXPECT_THAT(env_.files.Get(report_name), HasSubstr("APC.GoogleChartTemp"));
  const std::string base = report_name.substr(report_name.rfind('/') + 1);
  EXPECT_THAT(Log(), HasSubstr(",30000,\"[Function=APC.GoogleChartTemp][Version=1.0.0.1]"
                               "[Classname=EInOutError][Message=Cannot open file 'day.csv'. No "
                               "such file or directory][Trace=630][Filename=" +
                               base + "][Notes=kInputFile=day.csv]\"\r\n"));
}

TEST_F(ChartTest, PageSetsOfTheCycle) {
  Put("APCUPSTempLog_20250314.csv", "157,13:10,27\r\n");
  Put("APCUPSTempLog_Today.csv", "1,00:05,99\r\n157,13:10,27\r\n");
  Put("APCUPSTempLog_2025.csv", "\"#\",\"DATE\",\"AVG TEMP\"\r\n72,13/3,26.9\r\n");
  env_.files.writes.clear();
  WriteDayChartPages(env_.ctx, chart_, DayPageSet::kStartUp);
  WriteDayChartPages(env_.ctx, chart_, DayPageSet::kAfterSample);
  WriteAnnualChartPage(env_.ctx, chart_);
  std::vector<std::string> pages;
  for (const auto& w : env_.files.writes) {
    if (w.path.find(".html") != std::string::npos) pages.push_back(w.path.substr(16));
  }
  EXPECT_THAT(pages,
              ::testing::ElementsAre("APCUPSTempLog_20250314.html", "APCUPSTempLog_Fri.html",
                                     "APCUPSTempLog_20250314.html", "APCUPSTempLog_Today.html",
                                     "APCUPSTempLog_Fri.html", "APCUPSTempLog_2025.html"));
  const std::string day = ExpectedPage({"          ['13:10',27],"}, true);
  EXPECT_EQ(File("APCUPSTempLog_Today.html"), day);
  EXPECT_EQ(File("APCUPSTempLog_Fri.html"), day);
  const std::string annual = File("APCUPSTempLog_2025.html");
  EXPECT_THAT(annual, HasSubstr("    <meta http-equiv=\"refresh\" content=\"3600\">\r\n"));
  EXPECT_THAT(annual, HasSubstr("          title:'Annual Temprature 13/03/2025 at 13:10:00',\r\n"));
  EXPECT_THAT(annual, HasSubstr("            title:'Date'\r\n"));
  EXPECT_THAT(annual, HasSubstr("          ['13/3',26.9],\r\n"));
  EXPECT_THAT(annual, Not(HasSubstr("'Time'")));
}

TEST_F(ChartTest, AFailedPageLeavesTheOldFile) {
  Put("APCUPSTempLog_Fri.html", "old page");
  env_.files.read_only.insert(std::string(kDir) + "APCUPSTempLog_Fri.html");
  WriteDayChartPages(env_.ctx, chart_, DayPageSet::kStartUp);
  EXPECT_EQ(File("APCUPSTempLog_Fri.html"), "old page");
  EXPECT_THAT(File("APCUPSTempLog_20250314.html"), HasSubstr("</html>"));
}

// A daily file that cannot be read gives no page at all: every page of the set keeps its last
// complete version instead of one cut off after "data.addRows([".
TEST_F(ChartTest, AnUnreadableFileLeavesEveryPageAsItWas) {
  env_.files.AddDirectory(std::string(kDir) + "APCUPSTempLog_20250314.csv");
  env_.files.AddDirectory(std::string(kDir) + "APCUPSTempLog_2025.csv");
  struct Case {
    const char* name;
    std::function<void()> draw;
    std::vector<std::string> pages;
  } cases[] = {
      {"day pages",
       [&] { WriteDayChartPages(env_.ctx, chart_, DayPageSet::kAfterSample); },
       {"APCUPSTempLog_20250314.html", "APCUPSTempLog_Today.html", "APCUPSTempLog_Fri.html"}},
      {"annual page", [&] { WriteAnnualChartPage(env_.ctx, chart_); }, {"APCUPSTempLog_2025.html"}},
  };
  for (const auto& c : cases) {
    for (const auto& page : c.pages) Put(page, "complete old page");
    env_.files.Put(std::string(kDir) + "APC-20250314.CSV", "");
    c.draw();
    for (const auto& page : c.pages) EXPECT_EQ(File(page), "complete old page") << page;
    // The failure is still reported and summarised in the log.
    EXPECT_THAT(Log(), HasSubstr(",30000,\"[Function=APC.GoogleChartTemp]")) << c.name;
  }
}

}  // namespace
}  // namespace tw
