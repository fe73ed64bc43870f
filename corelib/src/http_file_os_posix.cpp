#include "http_file_os.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::win32::net::os {

namespace {

// UTF-8 of a wide path; both separators are accepted.
std::string native(const std::wstring& path) {
  std::string out;
  for (wchar_t wc : path) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c == '\\') c = '/';
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::uint32_t last_error() { return static_cast<std::uint32_t>(errno); }

class posix_file : public download_file {
 public:
  explicit posix_file(int fd) : fd_(fd) {}
  ~posix_file() override {
    if (fd_ >= 0) ::close(fd_);
  }
  std::uint32_t seek(std::uint64_t position) override {
    return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0 ? last_error() : 0;
  }
  std::uint32_t write(const char* data, std::uint32_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return last_error();
      }
      data += n;
      size -= static_cast<std::uint32_t>(n);
    }
    return 0;
  }
  std::uint32_t truncate(std::uint64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) != 0 ? last_error() : 0;
  }
  std::uint32_t close() override {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) != 0 ? last_error() : 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<download_file> download_file::open(const std::wstring& path, std::uint32_t& error) {
  const int fd = ::open(native(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = last_error();
    return nullptr;
  }
  error = 0;
  return std::make_unique<posix_file>(fd);
}

bool file_modified_time(const std::wstring& path, std::int64_t& unix_seconds) {
  struct stat st {};
  if (::stat(native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (::access(native(path).c_str(), R_OK) != 0) return false;
  unix_seconds = static_cast<std::int64_t>(st.st_mtime);
  return true;
}

bool is_existing_file(const std::wstring& path) {
  struct stat st {};
  return ::stat(native(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::uint64_t file_size(const std::wstring& path) {
  struct stat st {};
  if (::stat(native(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::uint32_t replace_file(const std::wstring& from, const std::wstring& to) {
  return std::rename(native(from).c_str(), native(to).c_str()) != 0 ? last_error() : 0;
}

std::uint32_t create_empty_file(const std::wstring& path) {
  const int fd = ::open(native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return last_error();
  return ::close(fd) != 0 ? last_error() : 0;
}

}  // namespace qv::win32::net::os
