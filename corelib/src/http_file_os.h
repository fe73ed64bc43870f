// File operations of the downloader: one implementation per target (http_file_os_win32.cpp,
// http_file_os_posix.cpp). Errors are the operating system's own numbers (GetLastError on
// Windows, errno elsewhere).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qv::win32::net::os {

// An open file being written; closed by the destructor.
class download_file {
 public:
  // Opens for writing without sharing, creating it when missing and keeping its contents.
  static std::unique_ptr<download_file> open(const std::wstring& path, std::uint32_t& error);
  virtual ~download_file() = default;
  virtual std::uint32_t seek(std::uint64_t position) = 0;
  // Writes everything or fails.
  virtual std::uint32_t write(const char* data, std::uint32_t size) = 0;
  // Cuts the file at size (which must not lie past its end).
  virtual std::uint32_t truncate(std::uint64_t size) = 0;
  // Closes now, reporting a failure of the close itself.
  virtual std::uint32_t close() = 0;
};

// The last modification time (seconds since 1970, UTC) of a file that can be opened for
// reading without sharing; false when there is none.
bool file_modified_time(const std::wstring& path, std::int64_t& unix_seconds);
// An existing entry that is not a folder.
bool is_existing_file(const std::wstring& path);
std::uint64_t file_size(const std::wstring& path);
// Replaces `to` with `from`; 0 or the error number.
std::uint32_t replace_file(const std::wstring& from, const std::wstring& to);
// Creates `path` empty, or empties it; 0 or the error number.
std::uint32_t create_empty_file(const std::wstring& path);

}  // namespace qv::win32::net::os
