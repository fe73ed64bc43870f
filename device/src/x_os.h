// The operating-system calls of file transfer and folder copy: blocking TCP sockets for the
// sender's worker and plain file access for the workers and the getter.
//
// Paths are wide strings in either form: "\" or "/" separators both work on every target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace device::os {

// ---- blocking sockets ------------------------------------------------------------------------

using socket_handle = std::intptr_t;
constexpr socket_handle kInvalidSocket = -1;

// A blocking IPv4 TCP socket, or kInvalidSocket.
socket_handle tcp_socket();
// Lingers on close for up to `seconds`; 0 makes the close abortive (no wait, reset to the peer).
bool set_linger(socket_handle s, unsigned seconds);
bool connect_loopback(socket_handle s, std::uint16_t port);
// Sends every byte; false on any failure (also after abort_socket).
bool send_all(socket_handle s, const void* data, std::size_t size);
// Waits for one byte; false when the peer closed first or the connection failed.
bool receive_byte(socket_handle s);
// Any thread: makes a blocked send or receive on the socket return with a failure, and every
// later one fail. The handle stays valid until close_socket.
void abort_socket(socket_handle s);
void close_socket(socket_handle s);

// ---- files -----------------------------------------------------------------------------------

class file {
 public:
  file() = default;
  ~file() { close(); }
  file(const file&) = delete;
  file& operator=(const file&) = delete;

  // Opens an existing file for reading, others may read it too.
  bool open_read(const std::wstring& path);
  // Creates or truncates a file for writing.
  bool create_write(const std::wstring& path);
  // Creates or empties the file that a copy of `source` (open) goes to, unless the path names
  // `source` itself (by another name or the same one): emptying it would lose what is copied.
  enum class target { ready, failed, same_file };
  target create_copy_target(const std::wstring& path, const file& source);
  // Bytes read (0 at the end), or -1 on failure.
  std::int64_t read(void* buffer, std::size_t size);
  // Writes every byte; false on failure.
  bool write(const void* data, std::size_t size);
  // Copies up to size bytes from the current position of `from` to this file, through buffer
  // (of at least size bytes) when the system cannot copy between files itself. Bytes copied
  // (0 at the end of `from`), or -1 when reading or writing failed.
  std::int64_t copy_from(file& from, void* buffer, std::size_t size);
  void close();
  bool is_open() const { return handle_ != kNone; }

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
  bool plain_copy_ = false;  // the system cannot copy between these files itself
};

bool is_directory(const std::wstring& path);
// The size of a regular file; false when it is not one or cannot be read.
bool file_size(const std::wstring& path, std::uint64_t& size);
// Every regular file below `root`, recursively, as paths relative to it joined with "\";
// the names of each folder in code-unit order. False when root cannot be listed. What these
// paths cannot carry is left out with a log line: a name holding "\" (POSIX), which would be
// read back as a separator, and links to folders, which may lead out of the tree. A link to a
// file counts as the file.
bool list_files(const std::wstring& root, std::vector<std::wstring>& relative);
// Creates every missing folder above the file `path`.
bool create_parent_folders(const std::wstring& path);
bool remove_file(const std::wstring& path);

}  // namespace device::os
