#include <windows.h>

#include <algorithm>
#include <limits>

#include "platform/file_system.h"
#include "platform/win32_error.h"

namespace tw {
namespace {

std::string LastErrorText(const char* what) {
  const DWORD code = GetLastError();
  return std::string(what) + " " + Win32ErrorText(code) + " (" + std::to_string(code) + ")";
}

bool WriteAll(HANDLE h, const std::string& data) {
  const char* p = data.data();
  size_t left = data.size();
  bool ok = true;
  while (ok && left > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1u << 30));
    DWORD written = 0;
    ok = ::WriteFile(h, p, chunk, &written, nullptr) && written == chunk;
    p += written;
    left -= written;
  }
  return ok;
}

// Appends with FILE_APPEND_DATA only, so every write lands at the end of the file, and with
// the widest sharing Windows offers: a program that keeps a history file open for reading
// and writing (a spreadsheet, an editor) does not lock the service out, unless that program
// itself denies writing to others.
bool Append(const std::string& path, const std::string& data) {
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(h, data);
  // Best effort: the rows are written once WriteFile took them, and a failure reported here
  // would make the caller write them a second time.
  if (ok) FlushFileBuffers(h);
  if (!CloseHandle(h)) ok = false;
  return ok;
}

// The new content goes to a file beside the old one, which MoveFileEx then replaces in one
// step: a reader opens the old page or the new one, never half of one, and a write that fails
// leaves the old file. MoveFileEx refuses while another program holds the old file without
// FILE_SHARE_DELETE. A reader that only reads the file through (a Prometheus exporter's
// text-file collector, which opens without FILE_SHARE_DELETE, as Go does) holds it for a few
// milliseconds, so the rename is tried again a few times within kReaderWaitMs; a program that
// keeps the file open longer leaves the old file, and the next write tries again.
constexpr DWORD kReaderWaitMs = 200;
constexpr DWORD kReaderRetryMs = 20;

bool MoveOver(const std::string& temp, const std::string& path) {
  for (DWORD waited = 0;; waited += kReaderRetryMs) {
    if (MoveFileExA(temp.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
      return true;
    }
    const DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
        waited >= kReaderWaitMs) {
      return false;
    }
    Sleep(kReaderRetryMs);
  }
}

bool Replace(const std::string& path, const std::string& data) {
  const std::string temp = path + kReplacementSuffix;
  // No sharing for writers: a second writer of the same file is refused here.
  HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(h, data);
  if (ok) ok = FlushFileBuffers(h) != FALSE;
  if (!CloseHandle(h)) ok = false;
  if (ok) ok = MoveOver(temp, path);
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

class Win32FileSystem : public FileSystem {
 public:
  bool WriteFile(const std::string& path, const std::string& data, bool append) override {
    return append ? Append(path, data) : Replace(path, data);
  }

  bool ReadFile(const std::string& path, std::string* data, std::string* error) override {
    // The whole file is its head with no limit below the largest size (the head read asks for one
    // byte beyond its limit).
    bool larger = false;
    return ReadFileHead(path, std::numeric_limits<size_t>::max() - 1, data, &larger, error);
  }

  bool ReadFileHead(const std::string& path, size_t limit, std::string* data, bool* larger,
                    std::string* error) override {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = LastErrorText(("Cannot open file \"" + path + "\".").c_str());
      return false;
    }
    data->clear();
    *larger = false;
    char buffer[65536];
    for (;;) {
      // One byte beyond the limit tells a larger file from one of exactly `limit` bytes.
      const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, limit + 1 - data->size()));
      DWORD n = 0;
      if (!::ReadFile(h, buffer, want, &n, nullptr)) {
        *error = LastErrorText("Read error.");
        CloseHandle(h);
        return false;
      }
      if (n == 0) break;
      data->append(buffer, n);
      if (data->size() > limit) {
        *larger = true;
        data->resize(limit);
        break;
      }
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
