#include "platform/file_system.h"

#include <cctype>

namespace tw {

bool FileSystem::ReadFileHead(const std::string& path, size_t limit, std::string* data,
                              bool* larger, std::string* error) {
  if (!ReadFile(path, data, error)) return false;
  *larger = data->size() > limit;
  if (*larger) data->resize(limit);
  return true;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  // Iterative glob match with backtracking to the last "*": linear in practice, no recursion.
  size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace tw
