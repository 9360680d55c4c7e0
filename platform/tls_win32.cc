// TLS with Windows' own Schannel (Secur32): the handshake tokens and the encrypted records
// travel through the TCP connection's Send and Receive, so every wait is the TCP seam's own.
// Schannel leaves the server certificate to platform/tls_verify_win32.cc.
// The order of these headers matters.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <security.h>
#include <sspi.h>
// mingw-w64 declares SCH_CREDENTIALS only with this, and needs <subauth.h> before it.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/deadline.h"
#include "platform/tls.h"
#include "platform/tls_verify_win32.h"
#include "platform/win32_text.h"

namespace tw {
namespace {

constexpr size_t kChunk = 16384;
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

std::string Narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::string StatusText(SECURITY_STATUS status) {
  char text[64];
  wsprintfA(text, "Schannel status 0x%08lX", static_cast<unsigned long>(status));
  return text;
}

std::string ProtocolName(DWORD protocol) {
  if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLSv1.3";
  if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLSv1.2";
  if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLSv1.1";
  if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLSv1";
  return "TLS";
}

// For systems without SECPKG_ATTR_CIPHER_INFO: the bulk cipher and its strength.
std::string CipherName(const SecPkgContext_ConnectionInfo& info) {
  char text[48];
  switch (info.aiCipher) {
    case CALG_AES_128:
      return "AES_128";
    case CALG_AES_256:
      return "AES_256";
    case CALG_AES:
      wsprintfA(text, "AES_%lu", static_cast<unsigned long>(info.dwCipherStrength));
      return text;
    case CALG_3DES:
      return "3DES";
    default:
      wsprintfA(text, "cipher 0x%04lX/%lu", static_cast<unsigned long>(info.aiCipher),
                static_cast<unsigned long>(info.dwCipherStrength));
      return text;
  }
}

class SchannelConnection : public TcpConnection {
 public:
  explicit SchannelConnection(std::unique_ptr<TcpConnection> tcp) : tcp_(std::move(tcp)) {
    SecInvalidateHandle(&cred_);
    SecInvalidateHandle(&ctx_);
  }

  ~SchannelConnection() override {
    if (have_ctx_) {
      if (established_ && !failed_) SendCloseNotify();
      DeleteSecurityContext(&ctx_);
    }
    if (have_cred_) FreeCredentialsHandle(&cred_);
  }

  // Credentials, the handshake and the stream sizes. False with `error` set.
  bool Handshake(const TlsOptions& options, TlsFacts* facts, TlsError* error) {
    const Deadline deadline = DeadlineAfter(options.timeout_ms);
    if (!AcquireCredentials(error)) return false;
    target_ = Wide(options.host);
    NetError net;
    std::string reason;
    if (!RunHandshake(deadline, false, &net, &reason)) {
      *error = {TlsFailure::kHandshake, reason};
      return false;
    }
    established_ = true;
    if (QueryContextAttributes(&ctx_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
      *error = {TlsFailure::kHandshake, "Schannel gives no stream sizes"};
      return false;
    }

    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributes(&ctx_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
        cert == nullptr) {
      *error = {TlsFailure::kUntrusted, "The server showed no certificate"};
      return false;
    }
    facts->peer_subject = CertificateSubject(cert);
    std::string why;
    const bool trusted =
        !options.verify || VerifyServerCertificate(cert, options.host, options.ca_file, &why);
    CertFreeCertificateContext(cert);
    if (!trusted) {
      *error = {TlsFailure::kUntrusted, why};
      return false;
    }

    SecPkgContext_ConnectionInfo info{};
    const bool have_info =
        QueryContextAttributes(&ctx_, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK;
    if (have_info) facts->version = ProtocolName(info.dwProtocol);
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    // Wine 8 names the suite with "<unknown>" for the hash of AEAD suites
    // ("TLS_ECDHE_RSA_WITH_AES_256_GCM_<unknown>"); it is shown as the system gives it.
    if (QueryContextAttributes(&ctx_, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK) {
      facts->cipher = Narrow(cipher.szCipherSuite);
      if (facts->version.empty()) facts->version = ProtocolName(cipher.dwProtocol);
    }
    if (facts->cipher.empty() && have_info) facts->cipher = CipherName(info);
    return true;
  }

  bool Send(const std::string& data, uint32_t timeout_ms, NetError* error) override {
    const Deadline deadline = DeadlineAfter(timeout_ms);
    size_t done = 0;
    while (done < data.size()) {
      const size_t part = std::min<size_t>(data.size() - done, sizes_.cbMaximumMessage);
      std::vector<char> record(sizes_.cbHeader + part + sizes_.cbTrailer);
      memcpy(record.data() + sizes_.cbHeader, data.data() + done, part);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(part), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + part},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = EncryptMessage(&ctx_, 0, &desc, 0);
      if (status != SEC_E_OK) return Broken(error, StatusText(status));
      const size_t size = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
      if (!tcp_->Send(std::string(record.data(), size), MillisecondsLeft(deadline), error)) {
        failed_ = true;
        return false;
      }
      done += part;
    }
    return true;
  }

  bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data, NetError* error) override {
    const Deadline deadline = DeadlineAfter(timeout_ms);
    for (;;) {
      if (!plain_.empty()) {
        *data = plain_.substr(0, max_size == 0 ? 1 : max_size);
        plain_.erase(0, data->size());
        return true;
      }
      if (peer_closed_) {
        data->clear();
        return true;
      }
      if (!in_.empty()) {
        bool need_more = false;
        if (!Decrypt(deadline, &need_more, error)) return false;
        if (!need_more) continue;
      }
      bool closed = false;
      if (!Fill(deadline, error, &closed)) return false;
      if (closed) {
        // Many servers close without a close_notify after QUIT: an orderly end all the same.
        peer_closed_ = true;
      }
    }
  }

  bool PeerOpen() override {
    if (!plain_.empty() || !in_.empty()) return true;
    if (peer_closed_) return false;
    return tcp_->PeerOpen();
  }

 private:
  bool AcquireCredentials(TlsError* error) {
    // TLS 1.2 and later, the system's choice of suites; no client certificate; the server's
    // certificate is checked by VerifyServerCertificate, not by Schannel.
    const DWORD flags =
        SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TLS_PARAMETERS params{};
    params.grbitDisabledProtocols =
        static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
    SCH_CREDENTIALS creds{};
    creds.dwVersion = SCH_CREDENTIALS_VERSION;
    creds.dwFlags = flags;
    creds.cTlsParameters = 1;
    creds.pTlsParameters = &params;
    TimeStamp expiry;
    SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                  nullptr, &creds, nullptr, nullptr, &cred_, &expiry);
    if (status != SEC_E_OK) {
      // Windows before 10 (1809) knows only the older structure.
      SCHANNEL_CRED old{};
      old.dwVersion = SCHANNEL_CRED_VERSION;
      old.dwFlags = flags;
      old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
      status = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                         SECPKG_CRED_OUTBOUND, nullptr, &old, nullptr, nullptr,
                                         &cred_, &expiry);
    }
    if (status != SEC_E_OK) {
      *error = {TlsFailure::kHandshake, "No Schannel credentials: " + StatusText(status)};
      return false;
    }
    have_cred_ = true;
    return true;
  }

  // The token exchange of InitializeSecurityContext, from the start or (`renegotiate`) for
  // post-handshake messages found in `in_`.
  bool RunHandshake(Deadline deadline, bool renegotiate, NetError* net, std::string* reason) {
    bool first = !renegotiate;
    bool need_input = false;
    for (;;) {
      if (need_input) {
        bool closed = false;
        if (!Fill(deadline, net, &closed)) return Fail(reason, net->message);
        if (closed)
          return Fail(reason, "The server closed the connection during the TLS handshake");
      }
      SecBuffer in_buffers[2] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN,
                                  in_.empty() ? nullptr : &in_[0]},
                                 {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in_buffers};
      SecBuffer out_buffers[1] = {{0, SECBUFFER_TOKEN, nullptr}};
      SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out_buffers};
      ULONG attributes = 0;
      TimeStamp expiry;
      const SECURITY_STATUS status = InitializeSecurityContextW(
          &cred_, first ? nullptr : &ctx_, target_.empty() ? nullptr : &target_[0], kContextFlags,
          0, 0, first ? nullptr : &in_desc, 0, &ctx_, &out_desc, &attributes, &expiry);
      if (first) have_ctx_ = true;
      first = false;
      if (out_buffers[0].cbBuffer > 0 && out_buffers[0].pvBuffer != nullptr) {
        const std::string token(static_cast<char*>(out_buffers[0].pvBuffer),
                                out_buffers[0].cbBuffer);
        FreeContextBuffer(out_buffers[0].pvBuffer);
        if (!tcp_->Send(token, MillisecondsLeft(deadline), net)) return Fail(reason, net->message);
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        need_input = true;
        continue;
      }
      if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
        return Fail(reason, "TLS handshake failed: " + StatusText(status));
      }
      // What Schannel did not consume stays for the next step (or for the first records).
      if (in_buffers[1].BufferType == SECBUFFER_EXTRA && in_buffers[1].cbBuffer > 0) {
        in_.erase(0, in_.size() - in_buffers[1].cbBuffer);
      } else {
        in_.clear();
      }
      if (status == SEC_E_OK) return true;
      need_input = in_.empty();
    }
  }

  // Decrypts the records at the start of `in_` into `plain_`; `need_more` when `in_` holds
  // no whole record.
  bool Decrypt(Deadline deadline, bool* need_more, NetError* error) {
    SecBuffer buffers[4] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, &in_[0]},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&ctx_, &desc, 0, nullptr);
    *need_more = status == SEC_E_INCOMPLETE_MESSAGE;
    if (*need_more) return true;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      return Broken(error, StatusText(status));
    }
    std::string extra;
    for (const SecBuffer& b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
        plain_.append(static_cast<char*>(b.pvBuffer), b.cbBuffer);
      } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
        extra.assign(static_cast<char*>(b.pvBuffer), b.cbBuffer);
      }
    }
    in_ = extra;
    if (status == SEC_I_CONTEXT_EXPIRED) {  // the server's close_notify
      peer_closed_ = true;
      return true;
    }
    if (status == SEC_I_RENEGOTIATE) {
      // TLS 1.3 session tickets and key updates come this way; the handshake function takes
      // them, with what followed them.
      std::string reason;
      error->code = 0;
      if (!RunHandshake(deadline, true, error, &reason)) return Broken(error, reason, error->code);
    }
    return true;
  }

  void SendCloseNotify() {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer in_buffer{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc in_desc{SECBUFFER_VERSION, 1, &in_buffer};
    if (ApplyControlToken(&ctx_, &in_desc) != SEC_E_OK) return;
    SecBuffer out_buffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out_buffer};
    ULONG attributes = 0;
    TimeStamp expiry;
    InitializeSecurityContextW(&cred_, &ctx_, target_.empty() ? nullptr : &target_[0],
                               kContextFlags, 0, 0, nullptr, 0, &ctx_, &out_desc, &attributes,
                               &expiry);
    if (out_buffer.pvBuffer != nullptr) {
      NetError ignored;
      tcp_->Send(std::string(static_cast<char*>(out_buffer.pvBuffer), out_buffer.cbBuffer), 0,
                 &ignored);
      FreeContextBuffer(out_buffer.pvBuffer);
    }
  }

  static bool Fail(std::string* reason, const std::string& text) {
    *reason = text;
    return false;
  }

  // `code`: the socket error number when the connection broke at the socket, else 0.
  bool Broken(NetError* error, const std::string& text, int code = 0) {
    failed_ = true;
    error->code = code;
    error->message = "TLS: " + text;
    return false;
  }

  bool Fill(Deadline deadline, NetError* error, bool* closed) {
    std::string data;
    if (!tcp_->Receive(kChunk, MillisecondsLeft(deadline), &data, error)) {
      failed_ = true;
      return false;
    }
    *closed = data.empty();
    in_ += data;
    return true;
  }

  std::unique_ptr<TcpConnection> tcp_;
  CredHandle cred_;
  CtxtHandle ctx_;
  bool have_cred_ = false;
  bool have_ctx_ = false;
  bool established_ = false;
  bool failed_ = false;
  bool peer_closed_ = false;
  std::wstring target_;
  SecPkgContext_StreamSizes sizes_{};
  std::string in_;     // received, not yet decrypted
  std::string plain_;  // decrypted, not yet handed out
};

class SchannelTls : public Tls {
 public:
  std::unique_ptr<TcpConnection> Connect(std::unique_ptr<TcpConnection> tcp,
                                         const TlsOptions& options, TlsFacts* facts,
                                         TlsError* error) override {
    try {
      auto connection = std::make_unique<SchannelConnection>(std::move(tcp));
      if (!connection->Handshake(options, facts, error)) return nullptr;
      *error = TlsError();
      return connection;
    } catch (const std::exception& e) {
      *error = {TlsFailure::kHandshake, e.what()};
    } catch (...) {
      *error = {TlsFailure::kHandshake, "TLS handshake failed"};
    }
    return nullptr;
  }
};

}  // namespace

std::unique_ptr<Tls> NewSystemTls() { return std::make_unique<SchannelTls>(); }

}  // namespace tw
