// A scripted SMTP relay behind the fake network, for tests that need exact control over
// timing (a relay that closes at once) or that watch other seams during the exchange.
#ifndef TEMPWARDEN_MAIL_FAKE_SMTP_PEER_H_
#define TEMPWARDEN_MAIL_FAKE_SMTP_PEER_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake_env.h"
#include "platform/fake_network.h"

namespace tw {

class FakeSmtpPeer {
 public:
  // Plugs the relay into `network`: every TCP connect reaches it.
  explicit FakeSmtpPeer(FakeNetwork* network);

  // Replies by verb ("EHLO", "HELO", "AUTH", "USER" and "PASS" for the two AUTH LOGIN
  // lines (after an AUTH with an initial response that got 334, "PASS" answers the next line),
  // "MAIL", "RCPT", "DATA", "EOD" for the end of the data, "QUIT"); CR LF inside a reply makes it a
  // multi-line one.
  std::map<std::string, std::string> replies;
  std::string greeting = "220 fake.relay ESMTP";
  bool close_after_ehlo = false;
  std::string local_address = "192.0.2.1";  // the client's end as the connection tells it
  // With a clock, every reply (the greeting too) comes `reply_delay_ms` after what it answers:
  // a receive advances the clock to it, or by its whole wait (then 10060) when that is
  // shorter; a receive with nothing to come advances by its wait. Without, replies come at once.
  FakeClock* clock = nullptr;
  uint32_t reply_delay_ms = 0;

  struct Line {
    std::string text;
    size_t datagrams_sent;  // datagrams the network had sent when the line arrived
  };
  std::vector<Line> received;  // every line the client sent
  int connections = 0;

 private:
  friend class FakeSmtpConnection;
  FakeNetwork* network_;
};

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_FAKE_SMTP_PEER_H_
