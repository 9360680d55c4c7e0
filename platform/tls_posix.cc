// TLS with the system's OpenSSL. The SSL object talks to two memory BIOs, and this file pumps
// their bytes through the TCP connection, so that OpenSSL never touches the socket and every
// wait is the TCP seam's own, bounded one.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>

#include "platform/deadline.h"
#include "platform/tls.h"

namespace tw {
namespace {

constexpr size_t kChunk = 16384;

// The reasons OpenSSL queued for this thread, oldest first; the queue is emptied.
std::string OpenSslReasons() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

bool IsIPv4(const std::string& host) {
  in_addr addr{};
  return inet_pton(AF_INET, host.c_str(), &addr) == 1;
}

struct SslCtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
  void operator()(SSL* s) const { SSL_free(s); }
};

class OpenSslConnection : public TcpConnection {
 public:
  OpenSslConnection(std::unique_ptr<TcpConnection> tcp, SSL_CTX* ctx, SSL* ssl)
      : tcp_(std::move(tcp)), ctx_(ctx), ssl_(ssl) {
    // The SSL object owns both BIOs from here on.
    from_net_ = BIO_new(BIO_s_mem());
    to_net_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(from_net_, -1);  // an empty input means "wait", not "closed"
    SSL_set_bio(ssl_.get(), from_net_, to_net_);
  }

  ~OpenSslConnection() override {
    // A close_notify, if the socket takes it at once; nothing waits for the peer's.
    if (handshake_done_ && !failed_ && SSL_shutdown(ssl_.get()) >= 0) {
      NetError ignored;
      Flush(DeadlineAfter(0), &ignored);
    }
    ERR_clear_error();
  }

  bool Handshake(uint32_t timeout_ms, NetError* net_error, std::string* reason) {
    const Deadline deadline = DeadlineAfter(timeout_ms);
    for (;;) {
      ERR_clear_error();
      const int rc = SSL_do_handshake(ssl_.get());
      const int err = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_.get(), rc);
      if (err == SSL_ERROR_NONE || err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ) {
        // Whatever the handshake produced goes out first (for TLS 1.3 the client's
        // Finished is produced by the call that returns success).
        if (!Flush(deadline, net_error)) return Fail(reason, net_error->message);
      }
      if (err == SSL_ERROR_NONE) {
        handshake_done_ = true;
        return true;
      }
      if (err == SSL_ERROR_WANT_WRITE) continue;
      if (err != SSL_ERROR_WANT_READ) {
        const std::string reasons = OpenSslReasons();
        // The alert that says why (a refused certificate: bad_certificate, unknown_ca) sits in
        // the outgoing buffer; sent, it puts the reason into the server's log as well.
        NetError ignored;
        Flush(deadline, &ignored);
        return Fail(reason, reasons.empty() ? "TLS handshake failed" : reasons);
      }
      bool closed = false;
      if (!Fill(deadline, net_error, &closed)) return Fail(reason, net_error->message);
      if (closed) return Fail(reason, "The server closed the connection during the TLS handshake");
    }
  }

  bool Send(const std::string& data, uint32_t timeout_ms, NetError* error) override {
    const Deadline deadline = DeadlineAfter(timeout_ms);
    size_t done = 0;
    while (done < data.size()) {
      ERR_clear_error();
      const int n = SSL_write(ssl_.get(), data.data() + done,
                              static_cast<int>(std::min(data.size() - done, kChunk)));
      if (n > 0) {
        done += static_cast<size_t>(n);
        if (!Flush(deadline, error)) return false;
        continue;
      }
      const int err = SSL_get_error(ssl_.get(), n);
      if (err == SSL_ERROR_WANT_WRITE) {
        if (!Flush(deadline, error)) return false;
        continue;
      }
      if (err == SSL_ERROR_WANT_READ) {
        bool closed = false;
        if (!Fill(deadline, error, &closed)) return false;
        if (closed) return Broken(error, MakeNetError(kWsaConnReset).message);
        continue;
      }
      return Broken(error, "TLS: " + OpenSslReasons());
    }
    return true;
  }

  bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data, NetError* error) override {
    const Deadline deadline = DeadlineAfter(timeout_ms);
    std::string buffer(max_size == 0 ? 1 : std::min(max_size, kChunk), '\0');
    for (;;) {
      ERR_clear_error();
      const int n = SSL_read(ssl_.get(), buffer.data(), static_cast<int>(buffer.size()));
      if (n > 0) {
        buffer.resize(static_cast<size_t>(n));
        *data = std::move(buffer);
        return true;
      }
      const int err = SSL_get_error(ssl_.get(), n);
      if (err == SSL_ERROR_ZERO_RETURN) {  // close_notify: an orderly end
        data->clear();
        return true;
      }
      if (err == SSL_ERROR_WANT_WRITE) {
        if (!Flush(deadline, error)) return false;
        continue;
      }
      if (err != SSL_ERROR_WANT_READ) return Broken(error, "TLS: " + OpenSslReasons());
      if (!Flush(deadline, error)) return false;
      bool closed = false;
      if (!Fill(deadline, error, &closed)) return false;
      if (closed) {
        // Many servers close the socket without a close_notify after QUIT; what has been
        // received is complete, so this counts as an orderly close too.
        data->clear();
        peer_closed_ = true;
        return true;
      }
    }
  }

  bool PeerOpen() override {
    if (SSL_pending(ssl_.get()) > 0 || BIO_ctrl_pending(from_net_) > 0) return true;
    if (peer_closed_ || (SSL_get_shutdown(ssl_.get()) & SSL_RECEIVED_SHUTDOWN) != 0) return false;
    return tcp_->PeerOpen();
  }

 private:
  static bool Fail(std::string* reason, const std::string& text) {
    *reason = text;
    return false;
  }

  bool Broken(NetError* error, const std::string& text) {
    failed_ = true;
    error->code = 0;
    error->message = text;
    return false;
  }

  // Sends what OpenSSL has written for the network.
  bool Flush(Deadline deadline, NetError* error) {
    char chunk[kChunk];
    while (BIO_ctrl_pending(to_net_) > 0) {
      const int n = BIO_read(to_net_, chunk, sizeof chunk);
      if (n <= 0) break;
      if (!tcp_->Send(std::string(chunk, static_cast<size_t>(n)), MillisecondsLeft(deadline),
                      error)) {
        failed_ = true;
        return false;
      }
    }
    return true;
  }

  // Hands OpenSSL what the network delivers next; `closed` when the peer closed instead.
  bool Fill(Deadline deadline, NetError* error, bool* closed) {
    std::string data;
    if (!tcp_->Receive(kChunk, MillisecondsLeft(deadline), &data, error)) {
      failed_ = true;
      return false;
    }
    *closed = data.empty();
    if (!data.empty()) BIO_write(from_net_, data.data(), static_cast<int>(data.size()));
    return true;
  }

  std::unique_ptr<TcpConnection> tcp_;
  std::unique_ptr<SSL_CTX, SslCtxFree> ctx_;
  std::unique_ptr<SSL, SslFree> ssl_;
  BIO* from_net_ = nullptr;
  BIO* to_net_ = nullptr;
  bool handshake_done_ = false;
  bool failed_ = false;
  bool peer_closed_ = false;
};

std::string SubjectOf(SSL* ssl) {
  X509* cert = SSL_get1_peer_certificate(ssl);
  if (cert == nullptr) return std::string();
  std::string text;
  BIO* out = BIO_new(BIO_s_mem());
  if (out != nullptr) {
    X509_NAME_print_ex(out, X509_get_subject_name(cert), 0, XN_FLAG_RFC2253);
    char* bytes = nullptr;
    const long size = BIO_get_mem_data(out, &bytes);
    if (size > 0) text.assign(bytes, static_cast<size_t>(size));
    BIO_free(out);
  }
  X509_free(cert);
  return text;
}

class OpenSslTls : public Tls {
 public:
  std::unique_ptr<TcpConnection> Connect(std::unique_ptr<TcpConnection> tcp,
                                         const TlsOptions& options, TlsFacts* facts,
                                         TlsError* error) override {
    try {
      return Run(std::move(tcp), options, facts, error);
    } catch (const std::exception& e) {
      *error = {TlsFailure::kHandshake, e.what()};
    } catch (...) {
      *error = {TlsFailure::kHandshake, "TLS handshake failed"};
    }
    ERR_clear_error();
    return nullptr;
  }

 private:
  std::unique_ptr<TcpConnection> Run(std::unique_ptr<TcpConnection> tcp, const TlsOptions& options,
                                     TlsFacts* facts, TlsError* error) {
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) return Refuse(error, TlsFailure::kHandshake, OpenSslReasons());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL* ssl = SSL_new(ctx);
    if (ssl == nullptr) {
      SSL_CTX_free(ctx);
      return Refuse(error, TlsFailure::kHandshake, OpenSslReasons());
    }
    auto connection = std::make_unique<OpenSslConnection>(std::move(tcp), ctx, ssl);
    SSL_set_connect_state(ssl);
    const bool literal = IsIPv4(options.host);
    if (!literal && !options.host.empty()) {
      SSL_set_tlsext_host_name(ssl, options.host.c_str());
    }
    if (options.verify) {
      if (SSL_CTX_set_default_verify_paths(ctx) != 1) ERR_clear_error();
      if (!options.ca_file.empty() &&
          SSL_CTX_load_verify_locations(ctx, options.ca_file.c_str(), nullptr) != 1) {
        return Refuse(error, TlsFailure::kUntrusted,
                      "The CA file " + options.ca_file + " cannot be read: " + OpenSslReasons());
      }
      X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      const int named = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, options.host.c_str())
                                : SSL_set1_host(ssl, options.host.c_str());
      if (named != 1) {
        return Refuse(error, TlsFailure::kUntrusted, "No host name to check the certificate");
      }
      SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
    } else {
      SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    }

    NetError net_error;
    std::string reason;
    if (!connection->Handshake(options.timeout_ms, &net_error, &reason)) {
      const long verdict = SSL_get_verify_result(ssl);
      if (options.verify && verdict != X509_V_OK) {
        return Refuse(
            error, TlsFailure::kUntrusted,
            std::string("Certificate not trusted: ") + X509_verify_cert_error_string(verdict));
      }
      return Refuse(error, TlsFailure::kHandshake, reason);
    }
    facts->version = SSL_get_version(ssl);
    facts->cipher = SSL_get_cipher_name(ssl);
    facts->peer_subject = SubjectOf(ssl);
    *error = TlsError();
    return connection;
  }

  static std::unique_ptr<TcpConnection> Refuse(TlsError* error, TlsFailure kind,
                                               const std::string& message) {
    *error = {kind, message};
    ERR_clear_error();
    return nullptr;
  }
};

}  // namespace

std::unique_ptr<Tls> NewSystemTls() { return std::make_unique<OpenSslTls>(); }

}  // namespace tw
