#include "service/ups_reading.h"

#include <gtest/gtest.h>

#include "toolbelt/field_text.h"

namespace tw {
namespace {

tSNMPResult Value(uint8_t tag, const std::string& text) {
  tSNMPResult r;
  r.Outcome = tSNMPOutcome::kValue;
  r.Tag = tag;
  r.Text = text;
  return r;
}

// What an answer comes to: numbers of numeric types inside the range; everything else is no
// reading, and the missing object is told apart from silence.
TEST(UpsReadingTest, OnlyNumbersInsideTheRangeAreReadings) {
  tSNMPResult missing;
  missing.Outcome = tSNMPOutcome::kNotProvided;
  missing.Tag = kSnmpNoSuchObject;
  tSNMPResult no_such_name;
  no_such_name.Outcome = tSNMPOutcome::kNotProvided;
  no_such_name.ErrorStatus = 2;
  const struct {
    const char* name;
    const tUpsObject& object;
    tSNMPResult result;
    tReadingKind kind;
    double value;
    const char* type;
  } cases[] = {
      {"INTEGER", kUpsTemperature, Value(kBerInteger, "27"), tReadingKind::kNumber, 27, "INTEGER"},
      {"negative INTEGER", kUpsTemperature, Value(kBerInteger, "-5"), tReadingKind::kNumber, -5,
       "INTEGER"},
      {"Gauge32", kUpsInputVoltage, Value(kSnmpGauge, "230"), tReadingKind::kNumber, 230,
       "Gauge32"},
      {"Counter32", kUpsInputVoltage, Value(kSnmpCounter, "0"), tReadingKind::kNumber, 0,
       "Counter32"},
      {"Gauge32 4294967295 is no -1", kUpsTemperature, Value(kSnmpGauge, "-1"),
       tReadingKind::kNotANumber, 0, "Gauge32"},
      {"decimal text", kUpsInputVoltage, Value(kBerOctetString, "230.5"), tReadingKind::kNumber,
       230.5, "OctetString"},
      {"text", kUpsTemperature, Value(kBerOctetString, "abc"), tReadingKind::kNotANumber, 0,
       "OctetString"},
      {"empty text", kUpsTemperature, Value(kBerOctetString, ""), tReadingKind::kNotANumber, 0,
       "OctetString"},
      {"number with a unit", kUpsTemperature, Value(kBerOctetString, "27 C"),
       tReadingKind::kNotANumber, 0, "OctetString"},
      {"blank before", kUpsTemperature, Value(kBerOctetString, " 27"), tReadingKind::kNotANumber, 0,
       "OctetString"},
      {"decimal comma (a card set up for such a language)", kUpsTemperature,
       Value(kBerOctetString, "27,5"), tReadingKind::kNumber, 27.5, "OctetString"},
      {"two decimal marks", kUpsTemperature, Value(kBerOctetString, "27,5.1"),
       tReadingKind::kNotANumber, 0, "OctetString"},
      {"OID", kUpsTemperature, Value(kBerObjectId, "1.3"), tReadingKind::kNotANumber, 0,
       "OBJECT IDENTIFIER"},
      {"IpAddress", kUpsTemperature, Value(kSnmpIpAddress, "10.0.0.1"), tReadingKind::kNotANumber,
       0, "IpAddress"},
      {"TimeTicks", kUpsTemperature, Value(kSnmpTimeTicks, "27"), tReadingKind::kNotANumber, 0,
       "TimeTicks"},
      {"NULL", kUpsTemperature, Value(kBerNull, ""), tReadingKind::kNotANumber, 0, "NULL"},
      {"value cut short", kUpsTemperature, Value(0, ""), tReadingKind::kNotANumber, 0, "tag 0x00"},
      {"below -50", kUpsTemperature, Value(kBerInteger, "-51"), tReadingKind::kNotANumber, 0,
       "INTEGER"},
      {"150 is in", kUpsTemperature, Value(kBerInteger, "150"), tReadingKind::kNumber, 150,
       "INTEGER"},
      {"above 150", kUpsTemperature, Value(kBerInteger, "151"), tReadingKind::kNotANumber, 0,
       "INTEGER"},
      {"negative volts", kUpsInputVoltage, Value(kBerInteger, "-1"), tReadingKind::kNotANumber, 0,
       "INTEGER"},
      {"above 600 V", kUpsInputVoltage, Value(kSnmpGauge, "601"), tReadingKind::kNotANumber, 0,
       "Gauge32"},
      {"noSuchObject", kUpsTemperature, missing, tReadingKind::kNotProvided, 0, "noSuchObject"},
      {"noSuchName", kUpsTemperature, no_such_name, tReadingKind::kNotProvided, 0, "noSuchName"},
      {"silence", kUpsTemperature, tSNMPResult(), tReadingKind::kSilent, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const tUpsReading r = ReadingOf(c.object, c.result);
    EXPECT_EQ(r.Kind, c.kind);
    EXPECT_EQ(r.Value, c.value);
    EXPECT_EQ(r.Type, c.type);
    if (c.kind == tReadingKind::kNumber) EXPECT_EQ(r.Text, c.result.Text);
  }
}

// The scale applies before the range; tenths divide exactly.
TEST(UpsReadingTest, TheScaleAppliesBeforeTheRange) {
  const tUpsObject tenths = TemperatureObject("1.3.6.1.4.1.318.1.1.1.2.3.2.0", 0.1);
  const tUpsObject hundredths = TemperatureObject("1.3.6.1.4.1.318.1.1.1.2.3.2.0", 0.01);
  const struct {
    const tUpsObject& object;
    tSNMPResult result;
    tReadingKind kind;
    double value;
  } cases[] = {
      {tenths, Value(kSnmpGauge, "275"), tReadingKind::kNumber, 27.5},
      {tenths, Value(kBerInteger, "-55"), tReadingKind::kNumber, -5.5},
      {tenths, Value(kBerInteger, "1500"), tReadingKind::kNumber, 150},
      {tenths, Value(kBerInteger, "1501"), tReadingKind::kNotANumber, 0},  // 150.1
      {tenths, Value(kBerOctetString, "27.5"), tReadingKind::kNumber, 2.75},
      {hundredths, Value(kSnmpGauge, "2753"), tReadingKind::kNumber, 27.53},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result.Text);
    const tUpsReading r = ReadingOf(c.object, c.result);
    EXPECT_EQ(r.Kind, c.kind);
    EXPECT_EQ(r.Value, c.value);  // exactly: 275 / 10, not 275 * 0.1
  }
  EXPECT_EQ(tenths.ReportNotes,
            "TemperatureOID=1.3.6.1.4.1.318.1.1.1.2.3.2.0 TemperatureScale=0.1");
  EXPECT_EQ(TemperatureObject(kOidUpsTemperature, 1).ReportNotes, "");
}

TEST(UpsReadingTest, LogFieldTextIsMadeSafe) {
  EXPECT_EQ(LogFieldText("a\r\nb[x]\x7f"), "a  b(x) ");
  EXPECT_EQ(LogFieldText(std::string(500, 'y')).size(), 200u);
}

}  // namespace
}  // namespace tw
