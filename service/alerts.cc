// The alert checks of the monitoring cycle: new extremes, the high-temperature alarm with its
// clearing, the status entry of every temperature pass, the on-line state change, and the
// card that stops and starts answering.
#include "mail/smtp.h"
#include "service/config_adapters.h"
#include "service/cycle.h"
#include "toolbelt/numbers.h"
#include "toolbelt/syslog.h"
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

}  // namespace

std::string MonitoringCycle::StatusItems() {
  return "[TempSleep=" + std::to_string(config_.TempSleep) + "]" + "[UPSDate=" + ups_.UPSDate +
         "]" + "[UPSTime=" + ups_.UPSTime + "]" + "[UPSUPTime=" + ups_.UPSUPTime + "]" +
         "[UPSState=" + ups_.UPSState + "]" + "[UPSTemp=" + Num(ups_.InternalTemp) + "]" +
         "[AlarmTemp=" + Num(config_.AlarmTemp) + "]" + "[MinTemp=" + Num(ups_.MinTemp) + "]" +
         "[MinTempTimeStamp=" + DateTimeText(ups_.MinTempTimeStamp) + "]" +
         "[MaxTemp=" + Num(ups_.MaxTemp) + "]" +
         "[MaxTempTimeStamp=" + DateTimeText(ups_.MaxTempTimeStamp) + "]";
}

int32_t MonitoringCycle::SendAlertMail(const std::string& subject, const std::string& body) {
  email_.Subject = subject;
  email_.Body = MailBody(body);
  email_.SMTPRelay = config_.SMTPRelay;
  email_.SMTPPort = config_.SMTPPort;
  email_.FromAddr = config_.EmailFromAddr;
  const int32_t result =
      SendMail(ctx_, email_, SmtpAccountFromConfig(config_, ctx_.settings.ExePath));
  if (result == kMailSent) return result;
  // A service has no console: without these two the failure would leave no trace. The
  // syslog message does not depend on the relay that just failed.
  Log(50800, "[Msg=Alert mail not delivered][Host=" + ctx_.settings.HostName + "]" +
                 "[Subject=" + subject + "][Result=" + std::to_string(result) + "]" +
                 "[SMTPRelay=" + config_.SMTPRelay + "]");
  tSyslogRec syslog;
  syslog.Code = 71002;
  syslog.Msg = "APC UPS: alert mail not delivered: " + subject +
               " Result=" + std::to_string(result) + " SMTPRelay=" + config_.SMTPRelay;
  syslog.Source = kTraceName;
  syslog.Port = 514;
  PostSyslogMsg(ctx_, syslog, config_.SyslogCollector);
  return result;
}

void MonitoringCycle::CountAnswer(bool answered) {
  if (snmp_.Host.empty()) return;
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

void MonitoringCycle::ContactAlert(bool lost) {
  const std::string what = lost ? "not answering" : "answering again";
  const std::string msg = "[Msg=APC UPS " + what + "][Host=" + ctx_.settings.HostName + "]" +
                          "[UPSAttributes.HostName=" + ups_.HostName + "]" +
                          "[LastAnswer=" + DateTimeText(last_answer_at_) + "]" + StatusItems();
  Log(lost ? 40900 : 50900, msg);
  tSyslogRec syslog;
  syslog.Code = lost ? 71003 : 71004;
  syslog.Msg = "APC UPS: " + what + " " + ups_.HostName;
  syslog.Source = kTraceName;
  syslog.Port = 514;
  PostSyslogMsg(ctx_, syslog, "");
  PostSyslogMsg(ctx_, syslog, config_.SyslogCollector);
  email_.ToAddr = config_.EmailToAddr;
  email_.CCAddr = config_.EmailCCAddr;
  SendAlertMail("APC UPS: " + what, msg);
}

void MonitoringCycle::TemperatureAlerts() {
  const double t = ups_.InternalTemp;
  const std::string host = "[Host=" + ctx_.settings.HostName + "]";
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
    Log(50400, "[Msg=New High temp]" + host + StatusItems());
    tSyslogRec syslog;
    syslog.Code = 71000;
    syslog.Msg = "APC UPS: New High temp=" + Num(t);
    syslog.Source = kTraceName;
    syslog.Extra = 0;
    syslog.Port = 514;
    PostSyslogMsg(ctx_, syslog, "");
    PostSyslogMsg(ctx_, syslog, config_.SyslogCollector);
  }

  if (reading && t < ups_.MinTemp) {
    DebugStage(1500);
    ups_.MinTemp = t;
    ups_.MinTempTimeStamp = Now();
    const std::string msg = "[Msg=New Low temp]" + host + StatusItems();
    Log(50500, msg);
    email_.ToAddr = config_.EmailToAddr;
    email_.CCAddr.clear();
    SendAlertMail("APC UPS: New Low temp", msg);
  }

  const bool alarm_due = reading && t >= config_.AlarmTemp && alarm_sent_at_ == 0;
  const std::string status = std::string("[Function=") + kTraceName + "]" + host +
                             StatusItems() + "[AlartSent=" +
                             (alarm_sent_at_ > 0 ? "TRUE" : "FALSE") + "]";
  Log(50600, status);

  if (alarm_due) {
    DebugStage(log_rec_.Trace);
    email_.ToAddr = config_.EmailToAddr;
    email_.CCAddr = config_.EmailCCAddr;
    // Only a delivered alarm counts as sent; otherwise it stays due for the next pass.
    const TDateTime at = Now();
    if (SendAlertMail("APC UPS: High Temp Alarm!", status) == kMailSent) alarm_sent_at_ = at;
  }

  if (reading && alarm_sent_at_ > 0 && config_.AlarmTemp - 0.5 >= t) {
    DebugStage(1700);
    const std::string msg = "[Msg=APC UPS High Temp condition cleared]" + host + StatusItems() +
                            "[EmailSent=TRUE]";
    Log(50700, msg);
    // An undelivered clearing is tried again at the next pass while it still holds.
    if (SendAlertMail("APC UPS: High Temp condition cleared", msg) == kMailSent) {
      alarm_sent_at_ = 0;
    }
  }
}

void MonitoringCycle::OnlineStateCheck() {
  const double v = ups_.InputVoltage;
  const double p = prev_input_voltage_;
  if (!(v > 1.5 * p || v < 0.5 * p)) return;
  DebugStage(1900);
  DebugStage(1910);
  Log(50300, "[Msg=UPS Online state change][Host=" + ctx_.settings.HostName + "]" +
                 "[Sleep=" + std::to_string(config_.TempSleep) + "]" +
                 "[InputVoltage=" + Num(v) + "]");
  PhoneHome(ctx_, config_.PhoneHomeServer, ups_, config_.PhoneHomeCollector);
}

}  // namespace tw
