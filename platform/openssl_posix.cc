#include "platform/openssl_posix.h"

#include <dlfcn.h>

namespace tw {
namespace {

// Debian's OpenSSL 3; libssl names libcrypto among its own dependencies, so one handle finds
// the functions of both.
constexpr char kLibSsl[] = "libssl.so.3";

std::string LoaderError(const std::string& what) {
  const char* text = dlerror();
  return what + (text != nullptr ? std::string(": ") + text : std::string());
}

}  // namespace

const OpenSslApi* OpenSslLoader::Get(std::string* why) {
  std::call_once(once_, [this] { Load(); });
  if (!loaded_) {
    *why = why_;
    return nullptr;
  }
  return &api_;
}

void OpenSslLoader::Load() {
  // RTLD_LOCAL: OpenSSL's symbols stay out of the program's global scope.
  void* handle = dlopen(kLibSsl, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    why_ = LoaderError(std::string("OpenSSL (") + kLibSsl + ") cannot be loaded");
    return;
  }
  dlerror();
#define TW_OPENSSL_RESOLVE(name)                                               \
  api_.name = reinterpret_cast<decltype(api_.name)>(dlsym(handle, #name));     \
  if (api_.name == nullptr) {                                                  \
    why_ = LoaderError(std::string("OpenSSL (") + kLibSsl + ") lacks " #name); \
    return;                                                                    \
  }
  TW_OPENSSL_FUNCTIONS(TW_OPENSSL_RESOLVE)
#undef TW_OPENSSL_RESOLVE
  loaded_ = true;
}

}  // namespace tw
