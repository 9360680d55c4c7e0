#include <windows.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/win32_error.h"

namespace tw {
namespace {

std::string LastErrorText(const char* what) {
  const DWORD code = GetLastError();
  return std::string(what) + " " + Win32ErrorText(code) + " (" + std::to_string(code) + ")";
}

class Win32FileSystem : public FileSystem {
 public:
  bool WriteFile(const std::string& path, const std::string& data, bool append) override {
    // Others may read the file while it is written, but not write it.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    if (append) ok = SetFilePointer(h, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
    const char* p = data.data();
    size_t left = data.size();
    while (ok && left > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1u << 30));
      DWORD written = 0;
      ok = ::WriteFile(h, p, chunk, &written, nullptr) && written == chunk;
      p += written;
      left -= written;
    }
    if (ok) ok = FlushFileBuffers(h) != FALSE;
    if (!CloseHandle(h)) ok = false;
    return ok;
  }

  bool ReadFile(const std::string& path, std::string* data, std::string* error) override {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = LastErrorText(("Cannot open file \"" + path + "\".").c_str());
      return false;
    }
    data->clear();
    char buffer[65536];
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(h, buffer, sizeof buffer, &n, nullptr)) {
        *error = LastErrorText("Read error.");
        CloseHandle(h);
        return false;
      }
      if (n == 0) break;
      data->append(buffer, n);
    }
    CloseHandle(h);
    return true;
  }

  bool IsPlainFile(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::vector<std::string> FindFiles(const std::string& pattern) override {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = data.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return names;
  }

  bool RemoveFile(const std::string& path) override { return DeleteFileA(path.c_str()) != FALSE; }

  bool SetWorkingDirectory(const std::string& dir) override {
    return SetCurrentDirectoryA(dir.c_str()) != FALSE;
  }

  const char* PathDelimiters() const override { return "\\/:"; }
  char PathSeparator() const override { return '\\'; }
};

}  // namespace

std::unique_ptr<FileSystem> NewSystemFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace tw
