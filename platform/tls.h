// The TLS seam: encrypts an established TCP connection with the platform's own TLS library
// (OpenSSL on Linux, Schannel on Windows), so that the SMTP dialogue never knows which library
// encrypts. The TLS records travel through the TCP connection's Send and Receive, so every
// wait stays bounded by the limits the caller gives there.
#ifndef TEMPWARDEN_PLATFORM_TLS_H_
#define TEMPWARDEN_PLATFORM_TLS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/network.h"

namespace tw {

struct TlsOptions {
  // The server's name as configured: sent as SNI (unless it is an IPv4 address) and, with
  // `verify`, the name (or address) the certificate must carry.
  std::string host;
  // True: the chain must lead to a trusted root (the system's trust store plus `ca_file`)
  // and the certificate must carry `host`. False: encrypt without checking anything.
  bool verify = true;
  // A PEM file of CA certificates trusted in addition; empty for none. An absolute path.
  std::string ca_file;
  // The limit for the whole handshake.
  uint32_t timeout_ms = 60000;
};

// What the handshake settled, for the console lines.
struct TlsFacts {
  std::string version;       // "TLSv1.2", "TLSv1.3"
  std::string cipher;        // the cipher suite's name as the platform gives it
  std::string peer_subject;  // the server certificate's subject, "CN=relay.example.com,O=..."
};

enum class TlsFailure {
  kNone,
  kHandshake,  // the handshake could not be completed (the peer, the protocol or the socket)
  kUntrusted,  // the certificate chain is not trusted, or it does not carry the host name
};

struct TlsError {
  TlsFailure kind = TlsFailure::kNone;
  std::string message;  // the platform's reason, for people
};

class Tls {
 public:
  virtual ~Tls() = default;

  // Runs the client handshake over `tcp`, which it takes over. Returns the encrypting
  // connection (Send and Receive carry plain text; their limits and error numbers are those
  // of TcpConnection), or null with `error` set, the TCP connection then being closed.
  // Never throws.
  virtual std::unique_ptr<TcpConnection> Connect(std::unique_ptr<TcpConnection> tcp,
                                                 const TlsOptions& options, TlsFacts* facts,
                                                 TlsError* error) = 0;
};

std::unique_ptr<Tls> NewSystemTls();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_TLS_H_
