#include "platform/regional_posix.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(StrftimeToPatternTest, LocaleFormats) {
  struct Case {
    const char* format;
    char sep_symbol;
    const char* pattern;
    char separator;
  } cases[] = {
      {"%m/%d/%Y", '/', "mm/dd/yyyy", '/'},                     // en_US
      {"%d.%m.%Y", '/', "dd/mm/yyyy", '.'},                     // de_DE
      {"%Y-%m-%d", '/', "yyyy/mm/dd", '-'},                     // sv_SE
      {"%d/%m/%y", '/', "dd/mm/yy", '/'},                       // en_GB
      {"%H:%M:%S", ':', "hh:nn:ss", ':'},                       // most
      {"%r", ':', "hh:nn:ss ampm", ':'},                        // en_US time
      {"%T", ':', "hh:nn:ss", '?'},                             // no literal separator: unchanged
      {"%Ey\xe5\xb9\xb4%m", '/', "yy\"\xe5\xb9\xb4\"mm", '?'},  // literal letters are quoted
  };
  for (const auto& c : cases) {
    char sep = '?';
    EXPECT_EQ(StrftimeToPattern(c.format, "%I:%M:%S %p", c.sep_symbol, &sep), c.pattern)
        << c.format;
    EXPECT_EQ(sep, c.separator) << c.format;
  }
}

}  // namespace
}  // namespace tw
