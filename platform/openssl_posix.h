// The system's OpenSSL (libssl.so.3 and the libcrypto.so.3 it pulls in), loaded when it is
// first needed rather than linked. A service with neither TLS nor SNMPv3 configured never maps
// the two libraries: they would cost more resident memory than the rest of the program, and
// every library mapped into an unattended service is attack surface it does not use.
//
// The functions are OpenSSL's own, looked up by name once; their types come from OpenSSL's
// headers, so a change of signature fails to compile instead of failing at run time. Macros
// of the headers that expand to ctrl calls (SSL_set_tlsext_host_name, BIO_get_mem_data...) are
// written out as those calls where they are used.
#ifndef TEMPWARDEN_PLATFORM_OPENSSL_POSIX_H_
#define TEMPWARDEN_PLATFORM_OPENSSL_POSIX_H_

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <mutex>
#include <string>

namespace tw {

#define TW_OPENSSL_FUNCTIONS(X)       \
  X(ERR_clear_error)                  \
  X(ERR_error_string_n)               \
  X(ERR_get_error)                    \
  X(BIO_ctrl)                         \
  X(BIO_ctrl_pending)                 \
  X(BIO_free)                         \
  X(BIO_new)                          \
  X(BIO_read)                         \
  X(BIO_s_mem)                        \
  X(BIO_write)                        \
  X(EVP_CIPHER_CTX_free)              \
  X(EVP_CIPHER_CTX_new)               \
  X(EVP_CIPHER_CTX_set_padding)       \
  X(EVP_CIPHER_fetch)                 \
  X(EVP_DecryptInit_ex)               \
  X(EVP_DecryptUpdate)                \
  X(EVP_Digest)                       \
  X(EVP_EncryptInit_ex)               \
  X(EVP_EncryptUpdate)                \
  X(EVP_aes_128_ecb)                  \
  X(EVP_aes_192_ecb)                  \
  X(EVP_aes_256_ecb)                  \
  X(EVP_md5)                          \
  X(EVP_sha1)                         \
  X(EVP_sha224)                       \
  X(EVP_sha256)                       \
  X(EVP_sha384)                       \
  X(EVP_sha512)                       \
  X(HMAC)                             \
  X(OSSL_PROVIDER_load)               \
  X(RAND_bytes)                       \
  X(SSL_CIPHER_get_name)              \
  X(SSL_CTX_ctrl)                     \
  X(SSL_CTX_free)                     \
  X(SSL_CTX_load_verify_locations)    \
  X(SSL_CTX_new)                      \
  X(SSL_CTX_set_default_verify_paths) \
  X(SSL_ctrl)                         \
  X(SSL_do_handshake)                 \
  X(SSL_free)                         \
  X(SSL_get0_param)                   \
  X(SSL_get1_peer_certificate)        \
  X(SSL_get_current_cipher)           \
  X(SSL_get_error)                    \
  X(SSL_get_shutdown)                 \
  X(SSL_get_verify_result)            \
  X(SSL_get_version)                  \
  X(SSL_new)                          \
  X(SSL_pending)                      \
  X(SSL_read)                         \
  X(SSL_set1_host)                    \
  X(SSL_set_bio)                      \
  X(SSL_set_connect_state)            \
  X(SSL_set_verify)                   \
  X(SSL_shutdown)                     \
  X(SSL_write)                        \
  X(TLS_client_method)                \
  X(X509_NAME_print_ex)               \
  X(X509_VERIFY_PARAM_set1_ip_asc)    \
  X(X509_VERIFY_PARAM_set_hostflags)  \
  X(X509_free)                        \
  X(X509_get_subject_name)            \
  X(X509_verify_cert_error_string)

// The functions this program calls, each under OpenSSL's own name.
struct OpenSslApi {
#define TW_OPENSSL_POINTER(name) decltype(&::name) name = nullptr;
  TW_OPENSSL_FUNCTIONS(TW_OPENSSL_POINTER)
#undef TW_OPENSSL_POINTER
};

// Loads the libraries at the first Get and keeps them loaded for the rest of the process
// (OpenSSL registers exit handlers, so it is never unloaded). Several loaders in one process
// share the one copy that the dynamic loader keeps. Thread safe.
class OpenSslLoader {
 public:
  // The functions, or null with `why` set (the library is missing, or lacks a function) at
  // this and every later call.
  const OpenSslApi* Get(std::string* why);

 private:
  void Load();

  std::once_flag once_;
  OpenSslApi api_;
  bool loaded_ = false;
  std::string why_;
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_OPENSSL_POSIX_H_
