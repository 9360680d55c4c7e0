#include "toolbelt/field_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tw {
namespace {

struct FieldCase {
  const char* what;
  std::string in;
  std::string log_field;
  std::string xml;
};

TEST(FieldTextTest, Cases) {
  const std::string euro = "\xE2\x82\xAC";  // U+20AC in UTF-8, three bytes
  const FieldCase kCases[] = {
      {"plain text passes", "APC Web/SNMP card 27.5", "APC Web/SNMP card 27.5",
       "APC Web/SNMP card 27.5"},
      {"empty", "", "", ""},
      {"a forged item and a new line", "27\r\n12:00:00,\"x\"][Code=30000][Msg=forged",
       "27  12:00:00,\"x\")(Code=30000)(Msg=forged",
       "27\r\n12:00:00,&quot;x&quot;][Code=30000][Msg=forged"},
      {"NUL, tab, bell and DEL",
       std::string("a\0b\tc\ad\x7F"
                   "e",
                   9),
       "a b c d e",
       std::string("a\0b\tc\ad\x7F"
                   "e",
                   9)},
      {"an injected element", "</e.Message><Evil a=\"1\">&amp;", "</e.Message><Evil a=\"1\">&amp;",
       "&lt;/e.Message&gt;&lt;Evil a=&quot;1&quot;&gt;&amp;amp;"},
      {"bytes of other code pages pass", "caf\xE9 " + euro, "caf\xE9 " + euro, "caf\xE9 " + euro},
      {"201 letters are cut to 200", std::string(201, 'x'), std::string(200, 'x'),
       std::string(201, 'x')},
      {"a cut never splits a UTF-8 letter", std::string(199, 'x') + euro, std::string(199, 'x'),
       std::string(199, 'x') + euro},
      {"a letter ending at 200 stays", std::string(197, 'x') + euro + "y",
       std::string(197, 'x') + euro, std::string(197, 'x') + euro + "y"},
      {"stray continuation bytes are cut at 200", std::string(196, 'x') + std::string(6, '\x80'),
       std::string(196, 'x') + std::string(4, '\x80'),
       std::string(196, 'x') + std::string(6, '\x80')},
  };
  for (const FieldCase& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LogFieldText(c.in), c.log_field);
    EXPECT_EQ(XmlEscaped(c.in), c.xml);
    EXPECT_LE(LogFieldText(c.in).size(), kLogFieldMax);
  }
}

}  // namespace
}  // namespace tw
