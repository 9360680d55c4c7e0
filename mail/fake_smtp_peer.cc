#include "mail/fake_smtp_peer.h"

#include <cctype>

namespace tw {

class FakeSmtpConnection : public TcpConnection {
 public:
  explicit FakeSmtpConnection(FakeSmtpPeer* peer) : peer_(peer) {
    ++peer_->connections;
    Reply(peer_->greeting);
  }

  bool Send(const std::string& data, uint32_t, NetError* error) override {
    if (closed_) {
      *error = MakeNetError(kWsaConnReset);
      return false;
    }
    pending_ += data;
    size_t end;
    while ((end = pending_.find("\r\n")) != std::string::npos) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 2);
      peer_->received.push_back({line, peer_->network_->sent.size()});
      Answer(line);
    }
    return true;
  }

  bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data, NetError* error) override {
    if (FakeClock* clock = peer_->clock) {
      const uint64_t now = clock->MonotonicMs();
      const uint64_t due = out_.empty() && !closed_ ? now + timeout_ms + 1 : ready_at_;
      if (due > now + timeout_ms) {
        clock->Advance(timeout_ms);
        *error = MakeNetError(kWsaTimedOut);
        return false;
      }
      if (due > now) clock->Advance(due - now);
    }
    if (!out_.empty()) {
      *data = out_.substr(0, max_size);
      out_.erase(0, data->size());
      return true;
    }
    if (closed_) {
      data->clear();
      return true;
    }
    *error = MakeNetError(kWsaTimedOut);
    return false;
  }

  bool PeerOpen() override { return !closed_ || !out_.empty(); }
  std::string LocalAddress() override { return peer_->local_address; }

 private:
  void Reply(const std::string& text) {
    out_ += text + "\r\n";
    if (peer_->clock != nullptr) ready_at_ = peer_->clock->MonotonicMs() + peer_->reply_delay_ms;
  }

  std::string Canned(const std::string& verb, const std::string& fallback) {
    const auto it = peer_->replies.find(verb);
    return it == peer_->replies.end() ? fallback : it->second;
  }

  void Answer(const std::string& line) {
    if (in_data_) {
      if (line == ".") {
        in_data_ = false;
        Reply(Canned("EOD", "250 2.0.0 Ok: queued"));
      }
      return;
    }
    if (auth_step_ == 1 || auth_step_ == 2) {
      const bool user = auth_step_ == 1;
      auth_step_ = user ? 2 : 0;
      Reply(user ? Canned("USER", "334 UGFzc3dvcmQ6") : Canned("PASS", "235 2.7.0 Ok"));
      return;
    }
    std::string verb = line.substr(0, line.find(' '));
    for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (verb == "EHLO") {
      Reply(Canned("EHLO", "250-fake.relay\r\n250 AUTH LOGIN"));
      if (peer_->close_after_ehlo) closed_ = true;
    } else if (verb == "AUTH" && line.find(' ', 5) != std::string::npos) {
      // With an initial response (PLAIN, XOAUTH2) the verdict comes at once.
      const std::string reply = Canned("AUTH", "235 2.7.0 Ok");
      if (reply.rfind("334", 0) == 0) auth_step_ = 2;
      Reply(reply);
    } else if (verb == "AUTH") {
      const std::string reply = Canned("AUTH", "334 VXNlcm5hbWU6");
      if (reply.rfind("334", 0) == 0) auth_step_ = 1;
      Reply(reply);
    } else if (verb == "DATA") {
      const std::string reply = Canned("DATA", "354 go ahead");
      in_data_ = reply.rfind("354", 0) == 0;
      Reply(reply);
    } else if (verb == "QUIT") {
      Reply(Canned("QUIT", "221 Bye"));
      closed_ = true;
    } else {
      Reply(Canned(verb, "250 OK"));
    }
  }

  FakeSmtpPeer* peer_;
  std::string pending_;
  std::string out_;
  bool closed_ = false;
  uint64_t ready_at_ = 0;  // on the peer's clock: when what is in out_ arrives
  bool in_data_ = false;
  int auth_step_ = 0;
};

FakeSmtpPeer::FakeSmtpPeer(FakeNetwork* network) : network_(network) {
  network->tcp_peer = [this](const std::string&, uint16_t) {
    return std::make_unique<FakeSmtpConnection>(this);
  };
}

}  // namespace tw
