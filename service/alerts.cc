#include "service/alerts.h"

#include "mail/smtp.h"
#include "service/config_adapters.h"
#include "service/debug_trace.h"
#include "toolbelt/field_text.h"
#include "toolbelt/items.h"
#include "toolbelt/numbers.h"
#include "toolbelt/syslog.h"
#include "toolbelt/text_time.h"
#include "ups/phone_home.h"

namespace tw {
namespace {

// Alert mails put every bracketed item of the log message on a line of its own.
std::string MailBody(const std::string& msg) {
  std::string body;
  for (size_t i = 0; i < msg.size(); ++i) {
    if (msg[i] == ']' && i + 1 < msg.size() && msg[i + 1] == '[') {
      body += "]\r\n";
    } else {
      body += msg[i];
    }
  }
  return body;
}

tSyslogRec AlertSyslog(int32_t code, const std::string& msg) {
  tSyslogRec syslog;
  syslog.Code = code;
  syslog.Msg = msg;
  syslog.Source = kTraceName;
  syslog.Extra = 0;
  syslog.Port = kSyslogPort;
  return syslog;
}

}  // namespace

Alerts::Alerts(Context& ctx, const tServiceConfig& config, tUPSAttributes& ups,
               const tSNMPRec& snmp, tLogRec& trace)
    : ctx_(ctx), config_(config), ups_(ups), snmp_(snmp), trace_(trace) {}

std::string Alerts::Num(double v) const { return FloatToStr(v, ctx_.fmt()); }

void Alerts::DebugStage(int32_t stage) { DebugTraceStage(ctx_, trace_, stage); }

void Alerts::Log(int32_t code, const std::string& msg) { LogThrough(ctx_, trace_, code, msg); }

std::string Alerts::StatusItems() {
  return Items()
      .Add("TempSleep", config_.TempSleep)
      .Add("UPSDate", ups_.UPSDate)
      .Add("UPSTime", ups_.UPSTime)
      .Add("UPSUPTime", ups_.UPSUPTime)
      .Add("UPSState", ups_.UPSState)
      .Add("UPSTemp", Num(ups_.InternalTemp))
      .Add("AlarmTemp", Num(config_.AlarmTemp))
      .Add("MinTemp", Num(ups_.MinTemp))
      .Add("MinTempTimeStamp", DateTimeToStr(ctx_, ups_.MinTempTimeStamp))
      .Add("MaxTemp", Num(ups_.MaxTemp))
      .Add("MaxTempTimeStamp", DateTimeToStr(ctx_, ups_.MaxTempTimeStamp))
      .str();
}

int32_t Alerts::Announce(const Announcement& a) {
  if (a.log_code != 0) Log(a.log_code, a.msg);
  if (a.syslog_code != 0) {
    const tSyslogRec syslog = AlertSyslog(a.syslog_code, a.syslog_msg);
    PostSyslogMsg(ctx_, syslog, "");  // broadcast on every local network
    PostSyslogMsg(ctx_, syslog, config_.SyslogCollector);
  }
  if (a.subject.empty()) return kMailSent;
  switch (a.recipients) {
    case Announcement::Recipients::kUnchanged:
      break;
    case Announcement::Recipients::kTo:
      email_.ToAddr = config_.EmailToAddr;
      email_.CCAddr.clear();
      break;
    case Announcement::Recipients::kToAndCc:
      email_.ToAddr = config_.EmailToAddr;
      email_.CCAddr = config_.EmailCCAddr;
      break;
  }
  return SendAlertMail(a.subject, a.msg);
}

int32_t Alerts::SendAlertMail(const std::string& subject, const std::string& body) {
  email_.Subject = subject;
  email_.Body = MailBody(body);
  email_.SMTPRelay = config_.SMTPRelay;
  email_.SMTPPort = config_.SMTPPort;
  email_.FromAddr = config_.EmailFromAddr;
  tSmtpReport report;
  tSmtpAccount account = SmtpAccountFromConfig(config_, ctx_.settings.ExePath);
  const SmtpLimits limits;
  OAuthTokens tokens(ctx_, tokens_, account.OAuth, limits);  // one token for many mails
  account.Tokens = &tokens;
  const int32_t result = SendMail(ctx_, email_, account, limits, &report);
  if (outcomes_ != nullptr && result != kMailNoRelay && result != kMailNoRecipient) {
    outcomes_->DeliveryEnded(tNotificationChannel::kMail, result == kMailSent);
  }
  if (result == kMailSent) return result;
  if (result == kMailNoRelay) {
    // Nothing to reach: said once, then once a day, so that the log is not a wall of it.
    const TDateTime now = Now();
    // A day less a millisecond: the day's sum of pass intervals need not come out exact.
    const double kDayLessAMillisecond = 1.0 - 1.0 / 86400000.0;
    if (no_relay_noted_at_ != 0 && now - no_relay_noted_at_ < kDayLessAMillisecond) return result;
    no_relay_noted_at_ = now;
  }
  // A service has no console: without these two the failure would leave no trace. The
  // syslog message does not depend on the relay that just failed, and goes to the collector
  // only.
  Items items;
  items.Add("Msg", "Alert mail not delivered")
      .Add("Host", ctx_.settings.HostName)
      .Add("Subject", subject)
      .Add("Result", result)
      .Add("SMTPRelay", config_.SMTPRelay);
  if (!report.Reply.empty()) items.Add("Reply", report.Reply);
  items.Append(report.TokenItems);
  Log(50800, items.str());
  const tSyslogRec syslog = AlertSyslog(71002, "APC UPS: alert mail not delivered: " + subject +
                                                   " Result=" + std::to_string(result) +
                                                   " SMTPRelay=" + config_.SMTPRelay);
  PostSyslogMsg(ctx_, syslog, config_.SyslogCollector);
  return result;
}

void Alerts::RetryContactMail() {
  if (contact_retry_subject_.empty()) return;
  email_.ToAddr = config_.EmailToAddr;
  email_.CCAddr = config_.EmailCCAddr;
  if (SendAlertMail(contact_retry_subject_, contact_retry_body_) == kMailSent) {
    contact_retry_subject_.clear();
    contact_retry_body_.clear();
  }
}

void Alerts::CardAnswer(bool answered) {
  if (snmp_.Host.empty()) return;  // no card to lose
  if (answered) {
    last_answer_at_ = Now();
    unanswered_queries_ = 0;
    if (contact_lost_) {
      contact_lost_ = false;
      ContactAlert(false);
    }
    return;
  }
  if (unanswered_queries_ < kSilentQueries) ++unanswered_queries_;
  if (unanswered_queries_ == kSilentQueries && !contact_lost_) {
    contact_lost_ = true;
    ContactAlert(true);
  }
}

void Alerts::ContactAlert(bool lost) {
  const std::string what = lost ? "not answering" : "answering again";
  Announcement a;
  a.log_code = lost ? 40900 : 50900;
  a.msg = Items()
              .Add("Msg", "APC UPS " + what)
              .Add("Host", ctx_.settings.HostName)
              .Add("UPSAttributes.HostName", ups_.HostName)
              .Add("LastAnswer", DateTimeToStr(ctx_, last_answer_at_))
              .Append(StatusItems())
              .str();
  a.syslog_code = lost ? 71003 : 71004;
  a.syslog_msg = "APC UPS: " + what + " " + ups_.HostName;
  a.subject = "APC UPS: " + what;
  a.recipients = Announcement::Recipients::kToAndCc;
  // The newer news replaces an undelivered older one.
  const bool delivered = Announce(a) == kMailSent;
  contact_retry_subject_ = delivered ? "" : a.subject;
  contact_retry_body_ = delivered ? "" : a.msg;
}

bool Alerts::not_provided() const {
  for (const auto& object : objects_) {
    if (object.second.missing) return true;
  }
  return false;
}

void Alerts::ObjectReading(const tUpsObject& object, const tUpsReading& reading) {
  if (snmp_.Host.empty() || reading.Kind == tReadingKind::kSilent) return;
  ObjectState& state = objects_[object.Name];
  const std::string name = object.Name;
  const std::string items = "[Host=" + ctx_.settings.HostName + "]" +
                            "[UPSAttributes.HostName=" + ups_.HostName + "]" +
                            "[OID=" + object.OID + "]";
  if (reading.Kind == tReadingKind::kNotProvided) {
    if (state.missing) return;
    state.missing = true;
    Announcement a;
    a.log_code = 40920;
    a.msg = "[Msg=APC UPS " + name + " not provided by the card]" + items +
            "[Answer=" + reading.Type + "]";
    a.syslog_code = 71005;
    a.syslog_msg = "APC UPS: " + name + " not provided by the card " + ups_.HostName;
    a.subject = "APC UPS: " + name + " not provided by the card";
    a.recipients = Announcement::Recipients::kToAndCc;
    Announce(a);
    return;
  }
  if (state.missing) {
    state.missing = false;
    Announcement a;
    a.log_code = 50920;
    a.msg = "[Msg=APC UPS " + name + " provided by the card again]" + items;
    a.syslog_code = 71006;
    a.syslog_msg = "APC UPS: " + name + " provided by the card again " + ups_.HostName;
    a.subject = "APC UPS: " + name + " provided by the card again";
    a.recipients = Announcement::Recipients::kToAndCc;
    Announce(a);
  }
  if (reading.Kind == tReadingKind::kNumber) {
    state.no_number_logged = false;
    return;
  }
  if (state.no_number_logged) return;
  state.no_number_logged = true;
  Log(40910, "[Msg=APC UPS answer is no " + name + " reading]" + items + "[Type=" + reading.Type +
                 "][Text=" + LogFieldText(reading.Text) + "]");
}

void Alerts::StartupTemperature(bool answered) {
  temp_answered_ = answered;
  if (!answered) return;
  ups_.MinTemp = ups_.InternalTemp;
  ups_.MaxTemp = ups_.InternalTemp;
  trace_.Trace = 610;
  ups_.MinTempTimeStamp = Now();
  ups_.MaxTempTimeStamp = Now();
  extremes_set_ = true;
}

void Alerts::SampledTemperature(bool answered) { temp_answered_ = answered; }

void Alerts::TemperaturePass() {
  RetryContactMail();
  const double t = ups_.InternalTemp;
  const std::string host = Items().Add("Host", ctx_.settings.HostName).str();
  // Without a reading there is nothing to judge: no extreme, no alarm and no clearing; the
  // status entry still shows the latest reading.
  const bool reading = temp_answered_;
  if (reading && !extremes_set_) {
    // The start-up query brought no reading: the first one starts the extremes.
    ups_.MinTemp = ups_.MaxTemp = t;
    ups_.MinTempTimeStamp = ups_.MaxTempTimeStamp = Now();
    extremes_set_ = true;
  }

  if (reading && t > ups_.MaxTemp) {
    DebugStage(1400);
    ups_.MaxTemp = t;
    ups_.MaxTempTimeStamp = Now();
    Announcement high;
    high.log_code = 50400;
    high.msg = Items().Add("Msg", "New High temp").Append(host).Append(StatusItems()).str();
    high.syslog_code = 71000;
    high.syslog_msg = "APC UPS: New High temp=" + Num(t);
    Announce(high);  // no mail for a new high
  }

  if (reading && t < ups_.MinTemp) {
    DebugStage(1500);
    ups_.MinTemp = t;
    ups_.MinTempTimeStamp = Now();
    Announcement low;
    low.log_code = 50500;
    low.msg = Items().Add("Msg", "New Low temp").Append(host).Append(StatusItems()).str();
    low.subject = "APC UPS: New Low temp";
    low.recipients = Announcement::Recipients::kTo;
    Announce(low);  // no syslog message for a new low
  }

  if (reading && t >= config_.AlarmTemp) high_temperature_ = true;
  if (reading && config_.AlarmTemp - 0.5 >= t) high_temperature_ = false;
  const bool alarm_due = reading && t >= config_.AlarmTemp && alarm_sent_at_ == 0;
  Announcement status;
  status.log_code = 50600;
  status.msg = Items()
                   .Add("Function", kTraceName)
                   .Append(host)
                   .Append(StatusItems())
                   .Add("AlartSent", alarm_sent_at_ > 0 ? "TRUE" : "FALSE")
                   .str();
  Announce(status);

  if (alarm_due) {
    DebugStage(trace_.Trace);
    // The alarm's body is the status entry just written, which still says FALSE.
    Announcement alarm;
    alarm.msg = status.msg;
    alarm.subject = "APC UPS: High Temp Alarm!";
    alarm.recipients = Announcement::Recipients::kToAndCc;
    // Only a delivered alarm counts as sent; otherwise it stays due for the next pass.
    const TDateTime at = Now();
    if (Announce(alarm) == kMailSent) alarm_sent_at_ = at;
  }

  if (reading && alarm_sent_at_ > 0 && config_.AlarmTemp - 0.5 >= t) {
    DebugStage(1700);
    Announcement cleared;
    cleared.log_code = 50700;
    cleared.msg = Items()
                      .Add("Msg", "APC UPS High Temp condition cleared")
                      .Append(host)
                      .Append(StatusItems())
                      .Add("EmailSent", "TRUE")
                      .str();
    cleared.subject = "APC UPS: High Temp condition cleared";  // to the alarm's recipients
    // An undelivered clearing is tried again at the next pass while it still holds.
    if (Announce(cleared) == kMailSent) alarm_sent_at_ = 0;
  }
}

void Alerts::StartupVoltage() { prev_input_voltage_ = ups_.InputVoltage; }

void Alerts::VoltageReading() {
  const double v = ups_.InputVoltage;
  const double p = prev_input_voltage_;
  if (v > 1.5 * p || v < 0.5 * p) {
    DebugStage(1900);
    DebugStage(1910);
    Log(50300, Items()
                   .Add("Msg", "UPS Online state change")
                   .Add("Host", ctx_.settings.HostName)
                   .Add("Sleep", config_.TempSleep)
                   .Add("InputVoltage", Num(v))
                   .str());
    PhoneHome(ctx_, config_.PhoneHomeServer, ups_, config_.PhoneHomeCollector);
  }
  prev_input_voltage_ = v;
}

}  // namespace tw
