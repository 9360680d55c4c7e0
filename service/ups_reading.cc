#include "service/ups_reading.h"

#include <cmath>
#include <cstdio>

#include "toolbelt/numbers.h"

namespace tw {

const tUpsObject kUpsTemperature = {"temperature", kOidUpsTemperature, -50, 150};
const tUpsObject kUpsInputVoltage = {"input voltage", kOidUpsInputVoltage, 0, 600};

tUpsObject TemperatureObject(const std::string& oid, double scale) {
  tUpsObject object = kUpsTemperature;
  object.OID = oid;
  object.Scale = scale;
  if (oid != kUpsTemperature.OID || scale != 1) {
    object.ReportNotes =
        "TemperatureOID=" + oid + " TemperatureScale=" + FloatToStr(scale, FormatSettings());
  }
  return object;
}

std::string SnmpTypeName(uint8_t tag) {
  switch (tag) {
    case kBerInteger:
      return "INTEGER";
    case kBerOctetString:
      return "OctetString";
    case kBerNull:
      return "NULL";
    case kBerObjectId:
      return "OBJECT IDENTIFIER";
    case kSnmpIpAddress:
      return "IpAddress";
    case kSnmpCounter:
      return "Counter32";
    case kSnmpGauge:
      return "Gauge32";
    case kSnmpTimeTicks:
      return "TimeTicks";
    case kSnmpOpaque:
      return "Opaque";
    case 0x46:
      return "Counter64";
    case kSnmpNoSuchObject:
      return "noSuchObject";
    case kSnmpNoSuchInstance:
      return "noSuchInstance";
    case kSnmpEndOfMibView:
      return "endOfMibView";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "tag 0x%02X", static_cast<unsigned>(tag));
      return text;
    }
  }
}

bool DecimalNumber(const std::string& text, double* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  double whole = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    whole = whole * 10 + (text[i] - '0');
  }
  if (digits == 0) return false;
  // A card set up for a language that writes a decimal comma sends "27,5".
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    ++i;
    double scale = 0.1;
    size_t fraction = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++fraction) {
      whole += (text[i] - '0') * scale;
      scale /= 10;
    }
    if (fraction == 0) return false;
  }
  if (i != text.size()) return false;
  *value = negative ? -whole : whole;
  return true;
}

tUpsReading ReadingOf(const tUpsObject& object, const tSNMPResult& result) {
  tUpsReading reading;
  reading.Outcome = result.Outcome;
  if (result.Outcome == tSNMPOutcome::kNotProvided) {
    reading.Kind = tReadingKind::kNotProvided;
    reading.Type = result.Tag != 0 ? SnmpTypeName(result.Tag) : "noSuchName";
    return reading;
  }
  if (result.Outcome != tSNMPOutcome::kValue) return reading;  // silent
  reading.Text = result.Text;
  reading.Type = SnmpTypeName(result.Tag);
  reading.Kind = tReadingKind::kNotANumber;
  double value = 0;
  bool number = false;
  switch (result.Tag) {
    case kBerInteger:
      number = DecimalNumber(result.Text, &value);
      break;
    case kSnmpGauge:
    case kSnmpCounter:
      // Their text is the content as a signed 32-bit number: from 2^31 up it prints negative.
      number = DecimalNumber(result.Text, &value);
      if (value < 0) value += 4294967296.0;
      break;
    case kBerOctetString:
      number = DecimalNumber(result.Text, &value);
      break;
    default:
      break;
  }
  if (number) {
    reading.Raw = value;
    // A whole number of units per degree divides, so that 275 tenths become exactly 27.5 and
    // not the 27.500000000000004 that multiplying by 0.1 gives.
    const double per_unit = std::round(1 / object.Scale);
    if (object.Scale < 1 && std::fabs(per_unit * object.Scale - 1) < 1e-12) {
      value /= per_unit;
    } else {
      value *= object.Scale;
    }
  }
  if (number && value >= object.Min && value <= object.Max) {
    reading.Kind = tReadingKind::kNumber;
    reading.Value = value;
  }
  return reading;
}

tUpsReading ReadUpsObject(Context& ctx, tSNMPRec snmp, const tUpsObject& object) {
  snmp.OID = object.OID;
  snmp.Notes = object.ReportNotes;
  return ReadingOf(object, SNMPRead(ctx, snmp));
}

}  // namespace tw
