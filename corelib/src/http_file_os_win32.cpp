#include "http_file_os.h"

#include <windows.h>

namespace qv::win32::net::os {

namespace {

std::uint32_t last_error() { return static_cast<std::uint32_t>(::GetLastError()); }

class win32_file : public download_file {
 public:
  explicit win32_file(HANDLE h) : handle_(h) {}
  ~win32_file() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  std::uint32_t seek(std::uint64_t position) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) ? 0 : last_error();
  }
  std::uint32_t write(const char* data, std::uint32_t size) override {
    while (size > 0) {
      DWORD written = 0;
      if (!::WriteFile(handle_, data, size, &written, nullptr)) return last_error();
      if (written == 0) return ERROR_WRITE_FAULT;
      data += written;
      size -= written;
    }
    return 0;
  }
  std::uint32_t truncate(std::uint64_t size) override {
    const std::uint32_t e = seek(size);
    if (e != 0) return e;
    return ::SetEndOfFile(handle_) ? 0 : last_error();
  }
  std::uint32_t close() override {
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(h) ? 0 : last_error();
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<download_file> download_file::open(const std::wstring& path, std::uint32_t& error) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = last_error();
    return nullptr;
  }
  error = 0;
  return std::make_unique<win32_file>(h);
}

bool file_modified_time(const std::wstring& path, std::int64_t& unix_seconds) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME written{};
  const BOOL ok = ::GetFileTime(h, nullptr, nullptr, &written);
  ::CloseHandle(h);
  if (!ok) return false;
  // FILETIME counts 100 ns steps since 1601 and is already UTC.
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  unix_seconds = static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
  return true;
}

bool is_existing_file(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::uint64_t file_size(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d) ||
      (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return 0;
  return (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::uint32_t replace_file(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : last_error();
}

std::uint32_t create_empty_file(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  return ::CloseHandle(h) ? 0 : last_error();
}

}  // namespace qv::win32::net::os
