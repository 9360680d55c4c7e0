// What the alerts said, read back from the fakes: the mails a scripted relay received, the
// entries of the activity log and the syslog datagrams. Shared by the tests that drive the
// alerts directly and those that run them inside the cycle.
#ifndef TEMPWARDEN_SERVICE_ALERTS_FIXTURE_H_
#define TEMPWARDEN_SERVICE_ALERTS_FIXTURE_H_

#include <functional>
#include <string>
#include <vector>

#include "mail/fake_smtp_peer.h"
#include "platform/fake_network.h"

namespace tw {
namespace alerts_test {

struct Mail {
  std::string subject;
  std::vector<std::string> recipients;
  std::string body;  // the bracketed lines, each ending in "\n"
};

// The mails the relay received, in order.
inline std::vector<Mail> Mails(const FakeSmtpPeer& relay) {
  std::vector<Mail> mails;
  bool in_data = false;
  for (const auto& line : relay.received) {
    const std::string& t = line.text;
    if (t.rfind("MAIL FROM:", 0) == 0) mails.emplace_back();
    if (mails.empty()) continue;
    if (t.rfind("RCPT TO:", 0) == 0) mails.back().recipients.push_back(t.substr(8));
    if (t == "DATA") {
      in_data = true;
    } else if (t == ".") {
      in_data = false;
    } else if (in_data && t.rfind("Subject: ", 0) == 0) {
      mails.back().subject = t.substr(9);
    } else if (in_data && t.rfind("[", 0) == 0) {
      mails.back().body += t + "\n";
    }
  }
  return mails;
}

inline std::vector<std::string> Subjects(const FakeSmtpPeer& relay) {
  std::vector<std::string> s;
  for (const auto& m : Mails(relay)) s.push_back(m.subject);
  return s;
}

// Entries with event code `code` in the activity log file's text `log`.
inline int Entries(const std::string& log, const std::string& code) {
  int n = 0;
  for (size_t at = log.find("," + code + ","); at != std::string::npos;
       at = log.find("," + code + ",", at + 1)) {
    ++n;
  }
  return n;
}

// What "[AlartSent=" shows in each status entry of `log`, in order.
inline std::vector<std::string> AlarmSentFlags(const std::string& log) {
  std::vector<std::string> flags;
  const std::string key = "[AlartSent=";
  for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
    flags.push_back(log.substr(at + key.size(), log.find(']', at) - at - key.size()));
  }
  return flags;
}

// Where the datagrams with "(ID=" + code + ")" went, in order.
inline std::vector<std::string> SyslogTo(const FakeNetwork& network, const std::string& code) {
  std::vector<std::string> to;
  for (const auto& d : network.sent) {
    if (d.payload.find("(ID=" + code + ")") != std::string::npos) to.push_back(d.to_ipv4);
  }
  return to;
}

inline bool SyslogHas(const FakeNetwork& network, const std::string& text) {
  for (const auto& d : network.sent) {
    if (d.payload.find(text) != std::string::npos) return true;
  }
  return false;
}

// The relay behind `network` takes connections only while `up` says so; otherwise they are
// refused.
inline void RelayUpWhen(FakeNetwork* network, std::function<bool()> up) {
  auto peer = network->tcp_peer;
  network->tcp_peer = [peer, up](const std::string& ipv4, uint16_t port) {
    return up() ? peer(ipv4, port) : nullptr;
  };
}

}  // namespace alerts_test
}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_ALERTS_FIXTURE_H_
