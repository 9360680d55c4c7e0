// Any bytes as a daily temperature file: the annual average and the chart page read it with
// bounds, never fail past their own handlers, and draw only rows the page's script can hold.
// The first byte picks the regional settings ("." or "," as decimal mark).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "ups/chart.h"
#include "ups/history.h"
#include "ups/temp_log.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();  // the fuzzer's signal; never reached in the service
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  tw::FakeEnv env;
  env.regional.mutable_settings() = (data[0] & 1) ? tw::GermanSettings() : tw::EnglishSettings();
  const std::string csv(reinterpret_cast<const char*>(data) + 1, size - 1);
  env.clock.Set(tw::EncodeDateTimeOrThrow(2025, 2, 14, 0, 0, 5, 0));
  env.files.Put("/opt/tempwarden/APCUPSTempLog_20250213.csv", csv);

  tw::AppendToAnnualFile(env.ctx, env.clock.Now() - 1);
  const std::string annual = env.files.Get("/opt/tempwarden/APCUPSTempLog_2025.csv");
  static const std::regex kAnnual(
      "(\"#\",\"DATE\",\"AVG TEMP\"\r\n(44,13/2,-?[0-9][0-9.,]*\r\n)?)?");
  Check(std::regex_match(annual, kAnnual));

  tw::tGoogleChart chart{"t", "h", "v", 1.0, env.clock.Now(), 300};
  const std::string page = tw::GoogleChartTemp(env.ctx, "APCUPSTempLog_20250213.csv", chart);
  const std::string head_end = "        data.addRows([\r\n";
  const size_t from = page.find(head_end);
  const size_t to = page.find("        ]);\r\n");
  Check(from != std::string::npos && to != std::string::npos && from < to);
  Check(page.size() >= 9 && page.compare(page.size() - 9, 9, "</html>\r\n") == 0);
  static const std::regex kRow(
      "          \\['[^'\\\\<>\\x00-\\x1f]*', *[-+]?[0-9.]*([eE][-+]?[0-9]+)? *\\],");
  tw::ForEachLine(page.substr(from + head_end.size(), to - from - head_end.size()),
                  [](const std::string& row) { Check(std::regex_match(row, kRow)); });
  return 0;
}
