#include "platform/tls_verify_win32.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "platform/win32_text.h"

namespace tw {
namespace {

// SECURITY_FLAG_IGNORE_UNKNOWN_CA of <wininet.h>, which this file has no other use for.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

std::string Hex(DWORD value) {
  char text[16];
  wsprintfA(text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

class Store {
 public:
  Store()
      : store_(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr)) {}
  ~Store() {
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  HCERTSTORE get() const { return store_; }

 private:
  HCERTSTORE store_;
};

class Chain {
 public:
  ~Chain() {
    if (chain_ != nullptr) CertFreeCertificateChain(chain_);
  }
  PCCERT_CHAIN_CONTEXT* out() { return &chain_; }
  PCCERT_CHAIN_CONTEXT get() const { return chain_; }

 private:
  PCCERT_CHAIN_CONTEXT chain_ = nullptr;
};

// Adds every certificate of the PEM file to `store`; false when the file cannot be read or
// holds none.
bool LoadPemFile(const std::string& path, HCERTSTORE store, std::string* reason) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *reason = "The CA file " + path + " cannot be read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  int added = 0;
  size_t at = 0;
  while ((at = pem.find(kBegin, at)) != std::string::npos) {
    const size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::string block = pem.substr(at, end + sizeof kEnd - 1 - at);
    at = end;
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
      continue;
    }
    if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                         size, CERT_STORE_ADD_ALWAYS, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    *reason = "The CA file " + path + " holds no certificate";
    return false;
  }
  return true;
}

// True when `cert` is one of the certificates in `store`.
bool InStore(HCERTSTORE store, PCCERT_CONTEXT cert) {
  PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                    0, CERT_FIND_EXISTING, cert, nullptr);
  if (found == nullptr) return false;
  CertFreeCertificateContext(found);
  return true;
}

std::string ChainStatusText(DWORD status) {
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return "a certificate of the chain has expired";
  if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) return "the chain ends in an untrusted root";
  if (status & CERT_TRUST_IS_PARTIAL_CHAIN) return "the chain does not reach a root";
  if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "a signature of the chain is invalid";
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "the certificate is not for servers";
  if (status & CERT_TRUST_IS_REVOKED) return "a certificate of the chain is revoked";
  return "the chain is not valid";
}

}  // namespace

std::string CertificateSubject(PCCERT_CONTEXT cert) {
  const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const DWORD size =
      CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, flags, nullptr, 0);
  if (size <= 1) return std::string();
  std::string text(size, '\0');
  CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, flags, &text[0], size);
  text.resize(size - 1);
  return text;
}

bool VerifyServerCertificate(PCCERT_CONTEXT cert, const std::string& host,
                             const std::string& ca_file, std::string* reason) {
  // One extra store for the chain engine: the intermediates the server sent, and the CAs
  // of "SMTPCAFile".
  Store extra;
  Store own_cas;
  if (extra.get() == nullptr || own_cas.get() == nullptr) {
    *reason = "No certificate store";
    return false;
  }
  if (cert->hCertStore != nullptr) {
    PCCERT_CONTEXT sent = nullptr;
    while ((sent = CertEnumCertificatesInStore(cert->hCertStore, sent)) != nullptr) {
      CertAddCertificateContextToStore(extra.get(), sent, CERT_STORE_ADD_ALWAYS, nullptr);
    }
  }
  const bool own_ca = !ca_file.empty();
  if (own_ca) {
    if (!LoadPemFile(ca_file, own_cas.get(), reason)) return false;
    PCCERT_CONTEXT ca = nullptr;
    while ((ca = CertEnumCertificatesInStore(own_cas.get(), ca)) != nullptr) {
      CertAddCertificateContextToStore(extra.get(), ca, CERT_STORE_ADD_ALWAYS, nullptr);
    }
  }

  LPSTR server_auth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = &server_auth;
  Chain chain;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, extra.get(), &para, 0, nullptr,
                               chain.out()) ||
      chain.get()->cChain == 0) {
    *reason = "The certificate chain cannot be built (" + Hex(GetLastError()) + ")";
    return false;
  }

  // The chain's own status first: the policy check alone has let an incomplete chain pass
  // (seen under Wine). With a configured CA, the one error accepted is an untrusted root,
  // and only when that root is one of the configured CAs.
  const DWORD status = chain.get()->TrustStatus.dwErrorStatus;
  bool root_is_own_ca = false;
  if (status != CERT_TRUST_NO_ERROR) {
    const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[0];
    if (own_ca && status == CERT_TRUST_IS_UNTRUSTED_ROOT && simple->cElement > 0) {
      root_is_own_ca =
          InStore(own_cas.get(), simple->rgpElement[simple->cElement - 1]->pCertContext);
    }
    if (!root_is_own_ca) {
      *reason = "Certificate not trusted: " + ChainStatusText(status) + " (" + Hex(status) + ")";
      return false;
    }
  }

  std::wstring name = Wide(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = root_is_own_ca ? kIgnoreUnknownCa : 0;
  ssl.pwszServerName = &name[0];
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.dwFlags = root_is_own_ca ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS result{};
  result.cbSize = sizeof result;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &result)) {
    *reason = "The certificate policy cannot be checked (" + Hex(GetLastError()) + ")";
    return false;
  }
  if (result.dwError != 0) {
    *reason = result.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)
                  ? "Certificate not trusted: it is not for " + host
                  : "Certificate not trusted (" + Hex(result.dwError) + ")";
    return false;
  }
  return true;
}

}  // namespace tw
