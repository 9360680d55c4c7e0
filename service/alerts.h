// The alerts of the monitoring cycle: the highest and lowest temperature of the run, the
// high-temperature alarm with its clearing, the status entry of every temperature pass, the
// change between mains and battery, and the card that stops and starts answering. The cycle
// keeps the schedule and reports each event here; everything an alert says (activity log,
// syslog, mail) goes out through Announce.
#ifndef TEMPWARDEN_SERVICE_ALERTS_H_
#define TEMPWARDEN_SERVICE_ALERTS_H_

#include <cstdint>
#include <map>
#include <string>

#include "mail/email.h"
#include "mail/oauth_token.h"
#include "service/notification_outcomes.h"
#include "service/ups_reading.h"
#include "snmp/snmp.h"
#include "toolbelt/activity_log.h"
#include "toolbelt/config.h"
#include "toolbelt/settings.h"
#include "ups/apc.h"

namespace tw {

// Queries in a row without an answer after which the card counts as not answering.
constexpr int32_t kSilentQueries = 3;

// Runs on the service thread only. The state lives as long as the object: a new run of the
// cycle starts with no alarm outstanding and no extremes.
class Alerts {
 public:
  // The cycle's records, which outlive this object: `config` as last re-read (levels,
  // recipients, relay, collectors); `ups` the latest readings, whose MinTemp and MaxTemp with
  // their time stamps are moved here; `snmp` the request whose Host is polled (queries of an
  // empty host are not counted); `trace` the activity-log record that carries the cycle's trace
  // stage, which the alerts raise as they pass their steps.
  Alerts(Context& ctx, const tServiceConfig& config, tUPSAttributes& ups, const tSNMPRec& snmp,
         tLogRec& trace);

  // The card answered a query (true) or stayed silent (false). The kSilentQueries-th silent
  // query in a row announces "not answering", the first answer after that "answering again";
  // both use ups.HostName and the status items. Such a mail that is not delivered is tried
  // again at every temperature pass, like the alarm, until it is or the next one replaces it.
  void CardAnswer(bool answered);

  // What a query of `object` came to, beyond answered or not (CardAnswer still hears of it).
  // An answer that is no reading (kNotANumber) logs 40910 with the object, the type and the
  // text (LogFieldText) when it is the run's first of that object or the first after a
  // number. An object the card does not provide is announced once (log 40920, syslog 71005,
  // mail "APC UPS: <object> not provided by the card") and again when it answers again (log
  // 50920, syslog 71006, mail "APC UPS: <object> provided by the card again").
  void ObjectReading(const tUpsObject& object, const tUpsReading& reading);

  // The start-up temperature query. With a reading (already in ups.InternalTemp) the extremes
  // start from it, stamped now; without one the first reading of a pass starts them.
  void StartupTemperature(bool answered);
  // The sample query of a temperature pass: whether it brought a reading (already in
  // ups.InternalTemp). A pass without a sample keeps what the last query said.
  void SampledTemperature(bool answered);
  // The checks at the end of every temperature pass, in this order: new high (log 50400,
  // syslog 71000), new low (log 50500, mail), the status entry (log 50600), the alarm (mail
  // with the status entry as body) and its clearing (log 50700, mail). Without a reading only
  // the status entry is written. The alarm counts as sent, and the clearing as done, only once
  // its mail is delivered; until then it is tried again at every pass.
  void TemperaturePass();

  // The start-up voltage reading (ups.InputVoltage): it becomes the previous reading.
  void StartupVoltage();
  // A voltage reading of a pass (ups.InputVoltage and ups.UPSState already updated): a value
  // above 1.5 times or below half the previous reading is a change between mains and battery
  // (log 50300 and the phone-home report). Then it becomes the previous reading.
  void VoltageReading();

  // What one event says. An activity-log entry `log_code` (none when 0) with `msg`; a syslog
  // message `syslog_code` (none when 0) with `syslog_msg`, broadcast and sent to the collector;
  // a mail with `subject` (none when empty) whose body is `msg` with one bracketed item a line.
  struct Announcement {
    int32_t log_code = 0;
    std::string msg;
    int32_t syslog_code = 0;
    std::string syslog_msg;
    std::string subject;
    enum class Recipients {
      kUnchanged,  // those of the previous mail
      kTo,         // EmailToAddr, no copy
      kToAndCc,    // EmailToAddr and EmailCCAddr
    };
    Recipients recipients = Recipients::kUnchanged;
  };
  // Sends what `a` says in the order above. Returns SendMail's result, or kMailSent when there
  // is no mail. A mail that is not delivered is logged (50800, with the relay's refusal as
  // [Reply=]) and its failure sent to the syslog collector (71002). With no SMTPRelay set these
  // two come once and then at most once a day, not at every pass.
  int32_t Announce(const Announcement& a);

  // 0 while no alarm is outstanding, otherwise when its mail was delivered.
  TDateTime alarm_sent_at() const { return alarm_sent_at_; }
  bool contact_lost() const { return contact_lost_; }
  // Whether the latest reading was at or above AlarmTemp, until one at or below AlarmTemp less
  // 0.5 (the alarm mail's levels, whether or not its mail was delivered).
  bool high_temperature() const { return high_temperature_; }
  // Whether the card lacks an object the service reads (announced as not provided).
  bool not_provided() const;

  // Where the outcome of every alert mail that was tried is told (null: nowhere). Mails that
  // could not be tried for want of a relay or a recipient are not told.
  void set_notification_outcomes(NotificationOutcomes* outcomes) { outcomes_ = outcomes; }
  // When the card last answered; 0 before its first answer.
  TDateTime last_answer_at() const { return last_answer_at_; }
  double prev_input_voltage() const { return prev_input_voltage_; }

 private:
  ClientCredentialsTokenSource tokens_;  // the XOAUTH2 token, kept until shortly before it ends
  // The status items of the temperature messages: settings, readings and extremes.
  std::string StatusItems();
  int32_t SendAlertMail(const std::string& subject, const std::string& body);
  void RetryContactMail();
  void ContactAlert(bool lost);
  void DebugStage(int32_t stage);
  void Log(int32_t code, const std::string& msg);
  TDateTime Now() const { return ctx_.env.clock->Now(); }
  std::string Num(double v) const;

  Context& ctx_;
  const tServiceConfig& config_;
  tUPSAttributes& ups_;
  const tSNMPRec& snmp_;
  tLogRec& trace_;
  tEmail email_;  // fields a mail does not set keep what the previous one left
  TDateTime alarm_sent_at_ = 0;
  // False while the latest temperature query brought no reading: the checks then have no
  // temperature to judge. The extremes are set by the first reading of the run.
  bool temp_answered_ = false;
  bool extremes_set_ = false;
  double prev_input_voltage_ = 0;
  int32_t unanswered_queries_ = 0;  // in a row, up to kSilentQueries
  bool contact_lost_ = false;
  bool high_temperature_ = false;
  NotificationOutcomes* outcomes_ = nullptr;
  TDateTime last_answer_at_ = 0;
  // The "not answering" / "answering again" mail still to deliver (none when subject empty).
  std::string contact_retry_subject_;
  std::string contact_retry_body_;
  TDateTime no_relay_noted_at_ = 0;  // when an alert without SMTPRelay was last logged
  struct ObjectState {
    bool no_number_logged = false;  // since the last number
    bool missing = false;           // announced as not provided
  };
  std::map<std::string, ObjectState> objects_;  // by tUpsObject::Name
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_ALERTS_H_
