#include <windows.h>

#include "platform/registry.h"
#include "platform/win32_error.h"

namespace tw {
namespace {

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(HKEY key) : key_(key) {}
  ~Win32RegistryKey() override { RegCloseKey(key_); }

  bool WriteString(const std::string& name, const std::string& value,
                   std::string* error_text) override {
    const LONG rc =
        RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS) {
      *error_text = Win32ErrorText(static_cast<unsigned long>(rc));
      return false;
    }
    return true;
  }

 private:
  HKEY key_;
};

class Win32Registry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path) override {
    // A leading backslash names the key from the root.
    const std::string relative = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, relative.c_str(), 0, KEY_READ | KEY_WRITE, &key) !=
        ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<Win32RegistryKey>(key);
  }
};

}  // namespace

std::unique_ptr<Registry> NewSystemRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace tw
