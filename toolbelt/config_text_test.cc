#include "toolbelt/config_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tw {
namespace {

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}
std::string Utf16Be(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{'\0', c};
  return out;
}

TEST(ConfigTextTest, EncodingsByByteOrderMark) {
  const std::string xml = "<XML><UPSHost>10.0.0.9</UPSHost></XML>";
  struct Case {
    const char* what;
    std::string bytes;
    ConfigEncoding encoding;
    std::string text;
  } cases[] = {
      {"no mark: the bytes", xml, ConfigEncoding::kBytes, xml},
      {"no mark, ANSI letters stay bytes",
       "<Location>B\xfc"
       "ro</Location>",
       ConfigEncoding::kBytes,
       "<Location>B\xfc"
       "ro</Location>"},
      {"UTF-8 mark dropped", "\xEF\xBB\xBF" + xml, ConfigEncoding::kUtf8Bom, xml},
      {"UTF-8 mark twice: the second is text", "\xEF\xBB\xBF\xEF\xBB\xBF" + xml,
       ConfigEncoding::kUtf8Bom, "\xEF\xBB\xBF" + xml},
      {"UTF-16LE (Notepad's Unicode)", "\xFF\xFE" + Utf16Le(xml), ConfigEncoding::kUtf16Le, xml},
      {"UTF-16BE", std::string("\xFE\xFF") + Utf16Be(xml), ConfigEncoding::kUtf16Be, xml},
      {"UTF-16LE letters beyond ASCII",
       std::string("\xFF\xFE"
                   "B\0\xFC\0\xAC\x20=\0\x3D\xD8\x00\xDE",
                   14),
       ConfigEncoding::kUtf16Le, "B\xC3\xBC\xE2\x82\xAC=\xF0\x9F\x98\x80"},
      {"UTF-16 lone surrogates become U+FFFD",
       std::string("\xFF\xFE"
                   "\x00\xDC"
                   "a\0"
                   "\x00\xD8"
                   "b\0"
                   "\x00\xD8",
                   12),
       ConfigEncoding::kUtf16Le,
       "\xEF\xBF\xBD"
       "a"
       "\xEF\xBF\xBD"
       "b"
       "\xEF\xBF\xBD"},
      {"UTF-16 odd last byte dropped",
       std::string("\xFF\xFE"
                   "a\0"
                   "b",
                   5),
       ConfigEncoding::kUtf16Le, "a"},
      {"UTF-16 mark alone", "\xFF\xFE", ConfigEncoding::kUtf16Le, ""},
      {"UTF-16 without a mark stays bytes", Utf16Le("<a>"), ConfigEncoding::kBytes, Utf16Le("<a>")},
      {"one byte of a mark", "\xFF", ConfigEncoding::kBytes, "\xFF"},
      {"empty", "", ConfigEncoding::kBytes, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const tConfigText t = DecodeConfigBytes(c.bytes);
    EXPECT_EQ(t.Encoding, c.encoding);
    EXPECT_EQ(t.Text, c.text);
  }
  EXPECT_STREQ(ConfigEncodingName(ConfigEncoding::kUtf16Le), "UTF-16LE");
  EXPECT_STREQ(ConfigEncodingName(ConfigEncoding::kBytes), "bytes");
}

TEST(ConfigTextTest, FiveEntitiesDecodedOnceFromLeftToRight) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"p&amp;ss", "p&ss"},
      {"&lt;&gt;&quot;&apos;", "<>\"'"},
      {"&amp;lt;", "&lt;"},                                  // one pass
      {"a&b & c", "a&b & c"},                                // a bare "&" stays
      {"&nbsp;&#38;&#x26;&AMP;", "&nbsp;&#38;&#x26;&AMP;"},  // only the five, exact case
      {"&amp", "&amp"},                                      // cut at the end
      {"&&amp;;", "&&;"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeXmlEntities(c.in), c.out) << c.in;
}

TEST(ConfigTextTest, KeySearch) {
  struct Case {
    const char* what;
    const char* text;
    bool found;
    const char* value;
  } cases[] = {
      {"plain", "<K>v</K>", true, "v"},
      {"nothing trimmed", "<K> \r\n30\r\n </K>", true, " \r\n30\r\n "},
      {"entities decoded", "<K>a&amp;b&lt;/K&gt;</K>", true, "a&b</K>"},
      {"first pair wins", "<K>1</K><K>2</K>", true, "1"},
      {"closing tag only before: to the end", "</K><K>tail", true, "tail"},
      {"no closing tag", "<K>v", false, "unchanged"},
      {"no opening tag", "v</K>", false, "unchanged"},
      {"other case", "<k>v</k>", false, "unchanged"},
      {"empty value", "<K></K>", true, ""},
      // Comments and CDATA sections as XML reads them.
      {"pair in a comment", "<!-- <K>10.9.9.9</K> --><K>v</K>", true, "v"},
      {"only a pair in a comment", "<!-- <K>10.9.9.9</K> -->", false, "unchanged"},
      {"opening tag in a comment", "<!-- <K> --></K>", false, "unchanged"},
      {"closing tag in a comment", "<K>a<!-- </K> -->b</K>", true, "ab"},
      {"comment left open hides the rest", "<K>1</K><!-- <L>2</L>", true, "1"},
      {"CDATA taken as it stands", "<K><![CDATA[a<b&amp;]]>&amp;</K>", true, "a<b&amp;&"},
      {"closing tag in CDATA", "<K><![CDATA[x</K>y]]></K>", true, "x</K>y"},
      {"pair in CDATA", "<L><![CDATA[<K>1</K>]]></L><K>2</K>", true, "2"},
      {"CDATA left open", "<K>a<![CDATA[b</K>", false, "unchanged"},
      {"comment inside CDATA", "<K><![CDATA[<!--]]></K>", true, "<!--"},
      {"CDATA end alone", "<K>]]></K>", true, "]]>"},
      {"other <! markup", "<K><!DOCTYPE></K>", true, "<!DOCTYPE>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string value = "unchanged";
    EXPECT_EQ(FindConfigValue(c.text, "K", &value), c.found);
    EXPECT_EQ(value, c.value);
  }
}

}  // namespace
}  // namespace tw
