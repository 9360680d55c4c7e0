// TLS with the system's OpenSSL. The SSL object talks to two memory BIOs, and this file pumps
// their bytes through the TCP connection, so that OpenSSL never touches the socket and every
// wait is the TCP seam's own, bounded one.
//
// libssl is loaded at the first handshake (platform/openssl_posix.h), so a service that sends
// no mail over TLS never maps it.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>

#include "platform/deadline.h"
#include "platform/openssl_posix.h"
#include "platform/tls.h"

namespace tw {
namespace {

constexpr size_t kChunk = 16384;

// The reasons OpenSSL queued for this thread, oldest first; the queue is emptied.
std::string OpenSslReasons(const OpenSslApi& api) {
  std::string text;
  while (const unsigned long code = api.ERR_get_error()) {
    char buffer[256];
    api.ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

bool IsIPv4(const std::string& host) {
  in_addr addr{};
  return inet_pton(AF_INET, host.c_str(), &addr) == 1;
}

class OpenSslConnection : public TcpConnection {
 public:
  // `api` is copied: the connection may outlive the Tls object that made it.
  OpenSslConnection(const OpenSslApi& api, std::unique_ptr<TcpConnection> tcp, SSL_CTX* ctx,
                    SSL* ssl)
      : api_(api), tcp_(std::move(tcp)), ctx_(ctx, api_.SSL_CTX_free), ssl_(ssl, api_.SSL_free) {
    // The SSL object owns both BIOs from here on.
    from_net_ = api_.BIO_new(api_.BIO_s_mem());
    to_net_ = api_.BIO_new(api_.BIO_s_mem());
    // BIO_set_mem_eof_return: an empty input means "wait", not "closed".
    api_.BIO_ctrl(from_net_, BIO_C_SET_BUF_MEM_EOF_RETURN, -1, nullptr);
    api_.SSL_set_bio(ssl_.get(), from_net_, to_net_);
  }

  ~OpenSslConnection() override {
    // A close_notify, if the socket takes it at once; nothing waits for the peer's.
    if (handshake_done_ && !failed_ && api_.SSL_shutdown(ssl_.get()) >= 0) {
      NetError ignored;
      Flush(DeadlineAfter(0), &ignored);
    }
    api_.ERR_clear_error();
  }

  bool Handshake(uint32_t timeout_ms, NetError* net_error, std::string* reason) {
    const Deadline deadline = DeadlineAfter(timeout_ms);
    for (;;) {
      api_.ERR_clear_error();
      const int rc = api_.SSL_do_handshake(ssl_.get());
      const int err = rc == 1 ? SSL_ERROR_NONE : api_.SSL_get_error(ssl_.get(), rc);
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
        const std::string reasons = OpenSslReasons(api_);
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
      api_.ERR_clear_error();
      const int n = api_.SSL_write(ssl_.get(), data.data() + done,
                                   static_cast<int>(std::min(data.size() - done, kChunk)));
      if (n > 0) {
        done += static_cast<size_t>(n);
        if (!Flush(deadline, error)) return false;
        continue;
      }
      const int err = api_.SSL_get_error(ssl_.get(), n);
      if (err == SSL_ERROR_WANT_WRITE) {
        if (!Flush(deadline, error)) return false;
        continue;
      }
      if (err == SSL_ERROR_WANT_READ) {
        bool closed = false;
        if (!Fill(deadline, error, &closed)) return false;
        if (closed) return Broken(error, MakeNetError(kWsaConnReset).message, kWsaConnReset);
        continue;
      }
      return Broken(error, "TLS: " + OpenSslReasons(api_));
    }
    return true;
  }

  bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data, NetError* error) override {
    const Deadline deadline = DeadlineAfter(timeout_ms);
    std::string buffer(max_size == 0 ? 1 : std::min(max_size, kChunk), '\0');
    for (;;) {
      api_.ERR_clear_error();
      const int n = api_.SSL_read(ssl_.get(), buffer.data(), static_cast<int>(buffer.size()));
      if (n > 0) {
        buffer.resize(static_cast<size_t>(n));
        *data = std::move(buffer);
        return true;
      }
      const int err = api_.SSL_get_error(ssl_.get(), n);
      if (err == SSL_ERROR_ZERO_RETURN) {  // close_notify: an orderly end
        data->clear();
        return true;
      }
      if (err == SSL_ERROR_WANT_WRITE) {
        if (!Flush(deadline, error)) return false;
        continue;
      }
      if (err != SSL_ERROR_WANT_READ) return Broken(error, "TLS: " + OpenSslReasons(api_));
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
    if (api_.SSL_pending(ssl_.get()) > 0 || api_.BIO_ctrl_pending(from_net_) > 0) return true;
    if (peer_closed_ || (api_.SSL_get_shutdown(ssl_.get()) & SSL_RECEIVED_SHUTDOWN) != 0)
      return false;
    return tcp_->PeerOpen();
  }

 private:
  static bool Fail(std::string* reason, const std::string& text) {
    *reason = text;
    return false;
  }

  // `code`: the socket error number when the connection broke at the socket, else 0.
  bool Broken(NetError* error, const std::string& text, int code = 0) {
    failed_ = true;
    error->code = code;
    error->message = text;
    return false;
  }

  // Sends what OpenSSL has written for the network.
  bool Flush(Deadline deadline, NetError* error) {
    char chunk[kChunk];
    while (api_.BIO_ctrl_pending(to_net_) > 0) {
      const int n = api_.BIO_read(to_net_, chunk, sizeof chunk);
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
    if (!data.empty()) api_.BIO_write(from_net_, data.data(), static_cast<int>(data.size()));
    return true;
  }

  const OpenSslApi api_;
  std::unique_ptr<TcpConnection> tcp_;
  std::unique_ptr<SSL_CTX, decltype(&::SSL_CTX_free)> ctx_;
  std::unique_ptr<SSL, decltype(&::SSL_free)> ssl_;
  BIO* from_net_ = nullptr;
  BIO* to_net_ = nullptr;
  bool handshake_done_ = false;
  bool failed_ = false;
  bool peer_closed_ = false;
};

std::string SubjectOf(const OpenSslApi& api, SSL* ssl) {
  X509* cert = api.SSL_get1_peer_certificate(ssl);
  if (cert == nullptr) return std::string();
  std::string text;
  BIO* out = api.BIO_new(api.BIO_s_mem());
  if (out != nullptr) {
    api.X509_NAME_print_ex(out, api.X509_get_subject_name(cert), 0, XN_FLAG_RFC2253);
    char* bytes = nullptr;
    // BIO_get_mem_data
    const long size = api.BIO_ctrl(out, BIO_CTRL_INFO, 0, &bytes);
    if (size > 0) text.assign(bytes, static_cast<size_t>(size));
    api.BIO_free(out);
  }
  api.X509_free(cert);
  return text;
}

class OpenSslTls : public Tls {
 public:
  std::unique_ptr<TcpConnection> Connect(std::unique_ptr<TcpConnection> tcp,
                                         const TlsOptions& options, TlsFacts* facts,
                                         TlsError* error) override {
    std::string why;
    const OpenSslApi* api = loader_.Get(&why);
    if (api == nullptr) {
      *error = {TlsFailure::kHandshake, why};
      return nullptr;
    }
    try {
      return Run(*api, std::move(tcp), options, facts, error);
    } catch (const std::exception& e) {
      *error = {TlsFailure::kHandshake, e.what()};
    } catch (...) {
      *error = {TlsFailure::kHandshake, "TLS handshake failed"};
    }
    api->ERR_clear_error();
    return nullptr;
  }

 private:
  static std::unique_ptr<TcpConnection> Run(const OpenSslApi& api,
                                            std::unique_ptr<TcpConnection> tcp,
                                            const TlsOptions& options, TlsFacts* facts,
                                            TlsError* error) {
    api.ERR_clear_error();
    SSL_CTX* ctx = api.SSL_CTX_new(api.TLS_client_method());
    if (ctx == nullptr) return Refuse(api, error, TlsFailure::kHandshake, OpenSslReasons(api));
    // SSL_CTX_set_min_proto_version
    api.SSL_CTX_ctrl(ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    SSL* ssl = api.SSL_new(ctx);
    if (ssl == nullptr) {
      api.SSL_CTX_free(ctx);
      return Refuse(api, error, TlsFailure::kHandshake, OpenSslReasons(api));
    }
    auto connection = std::make_unique<OpenSslConnection>(api, std::move(tcp), ctx, ssl);
    api.SSL_set_connect_state(ssl);
    const bool literal = IsIPv4(options.host);
    if (!literal && !options.host.empty()) {
      // SSL_set_tlsext_host_name
      api.SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                   const_cast<char*>(options.host.c_str()));
    }
    if (options.verify) {
      if (api.SSL_CTX_set_default_verify_paths(ctx) != 1) api.ERR_clear_error();
      if (!options.ca_file.empty() &&
          api.SSL_CTX_load_verify_locations(ctx, options.ca_file.c_str(), nullptr) != 1) {
        return Refuse(api, error, TlsFailure::kUntrusted,
                      "The CA file " + options.ca_file + " cannot be read: " + OpenSslReasons(api));
      }
      X509_VERIFY_PARAM* param = api.SSL_get0_param(ssl);
      api.X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      const int named = literal ? api.X509_VERIFY_PARAM_set1_ip_asc(param, options.host.c_str())
                                : api.SSL_set1_host(ssl, options.host.c_str());
      if (named != 1) {
        return Refuse(api, error, TlsFailure::kUntrusted, "No host name to check the certificate");
      }
      api.SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
    } else {
      api.SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    }

    NetError net_error;
    std::string reason;
    if (!connection->Handshake(options.timeout_ms, &net_error, &reason)) {
      const long verdict = api.SSL_get_verify_result(ssl);
      if (options.verify && verdict != X509_V_OK) {
        return Refuse(
            api, error, TlsFailure::kUntrusted,
            std::string("Certificate not trusted: ") + api.X509_verify_cert_error_string(verdict));
      }
      return Refuse(api, error, TlsFailure::kHandshake, reason);
    }
    facts->version = api.SSL_get_version(ssl);
    // SSL_get_cipher_name
    facts->cipher = api.SSL_CIPHER_get_name(api.SSL_get_current_cipher(ssl));
    facts->peer_subject = SubjectOf(api, ssl);
    *error = TlsError();
    return connection;
  }

  static std::unique_ptr<TcpConnection> Refuse(const OpenSslApi& api, TlsError* error,
                                               TlsFailure kind, const std::string& message) {
    *error = {kind, message};
    api.ERR_clear_error();
    return nullptr;
  }

  OpenSslLoader loader_;
};

}  // namespace

std::unique_ptr<Tls> NewSystemTls() { return std::make_unique<OpenSslTls>(); }

}  // namespace tw
