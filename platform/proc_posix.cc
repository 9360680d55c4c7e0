#include "platform/proc_posix.h"

#include <fstream>

namespace tw {

bool ReadProcField(const char* file, const char* key, std::string* value) {
  std::ifstream in(file);
  const std::string prefix = key;
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      *value = line.substr(prefix.size());
      return true;
    }
  }
  return false;
}

}  // namespace tw
