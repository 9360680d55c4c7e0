// The registry seam: string values under keys of the local machine. On Linux a key is a small
// file beside the installed service unit.
#ifndef TEMPWARDEN_PLATFORM_REGISTRY_H_
#define TEMPWARDEN_PLATFORM_REGISTRY_H_

#include <memory>
#include <string>

namespace tw {

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;  // closes the key
  // False with the system's error text when the value cannot be written.
  virtual bool WriteString(const std::string& name, const std::string& value,
                           std::string* error_text) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens HKEY_LOCAL_MACHINE + `path` ("\System\CurrentControlSet\Services\X") for reading
  // and writing, without creating it. Null when it does not open.
  virtual std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path) = 0;
};

std::unique_ptr<Registry> NewSystemRegistry();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_REGISTRY_H_
