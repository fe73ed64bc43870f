// File transfer's OS layer on POSIX: BSD sockets and file descriptors. "\" in paths means "/".
#include "x_os.h"

#include "device/socket_message_manager.h"
#include "qv/path.h"
#include "qv/text.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace device::os {
namespace {

std::string native(const std::wstring& path) { return qv::text::wide_to_utf8(qv::path::to_native(path)); }

int fd(socket_handle s) { return static_cast<int>(s); }

bool list_into(const std::string& dir, const std::wstring& prefix, std::vector<std::wstring>& out, int depth) {
  if (depth > 256) return false;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    const std::string full = dir + "/" + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0) continue;
    const std::wstring wide_name = qv::text::utf8_to_wide(name);
    if (!qv::path::has_windows_text(wide_name)) {
      log_line("folder walk: left out " + full + ": the name holds \"\\\"");
      continue;
    }
    if (S_ISLNK(st.st_mode)) {
      if (::stat(full.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        log_line("folder walk: left out " + full + ": a link to a folder is not followed");
        continue;
      }
    }
    const std::wstring rel = prefix + wide_name;
    if (S_ISDIR(st.st_mode)) {
      if (!list_into(full, rel + L"\\", out, depth + 1)) return false;
    } else if (S_ISREG(st.st_mode)) {
      out.push_back(rel);
    }
  }
  return true;
}

}  // namespace

socket_handle tcp_socket() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return s < 0 ? kInvalidSocket : s;
}

bool set_linger(socket_handle s, unsigned seconds) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = static_cast<int>(seconds);
  return ::setsockopt(fd(s), SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

bool connect_loopback(socket_handle s, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int r;
  do {
    r = ::connect(fd(s), reinterpret_cast<const sockaddr*>(&a), sizeof a);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool send_all(socket_handle s, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::send(fd(s), p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool receive_byte(socket_handle s) {
  char b;
  for (;;) {
    const ssize_t n = ::recv(fd(s), &b, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    return n == 1;
  }
}

// A shutdown from another thread ends a blocked send or recv at once; the descriptor stays
// ours until close, so it cannot be reused under the worker's feet.
void abort_socket(socket_handle s) { ::shutdown(fd(s), SHUT_RDWR); }

void close_socket(socket_handle s) { ::close(fd(s)); }

bool file::open_read(const std::wstring& path) {
  close();
  const int f = ::open(native(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (f < 0) return false;
  struct stat st {};
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(f);
    return false;
  }
  handle_ = f;
  return true;
}

bool file::create_write(const std::wstring& path) {
  close();
  const int f = ::open(native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (f < 0) return false;
  handle_ = f;
  return true;
}

// Opened without emptying it first: the same device and inode as the source means the copy
// would go onto the source itself.
file::target file::create_copy_target(const std::wstring& path, const file& source) {
  close();
  const int f = ::open(native(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (f < 0) return target::failed;
  struct stat mine {}, theirs {};
  target result = target::failed;
  if (::fstat(f, &mine) == 0 && ::fstat(static_cast<int>(source.handle_), &theirs) == 0) {
    if (mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino)
      result = target::same_file;
    else if (::ftruncate(f, 0) == 0)
      result = target::ready;
  }
  if (result != target::ready) {
    ::close(f);
    return result;
  }
  handle_ = f;
  return result;
}

std::int64_t file::read(void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool file::write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(handle_), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The kernel copies between the files when it can (no trip through user space); otherwise the
// bytes go through the buffer.
std::int64_t file::copy_from(file& from, void* buffer, std::size_t size) {
  if (!plain_copy_) {
    for (;;) {
      const ssize_t n = ::copy_file_range(static_cast<int>(from.handle_), nullptr, static_cast<int>(handle_), nullptr,
                                          size, 0);
      if (n > 0) return n;
      if (n == 0) break;  // the end, or a file the kernel cannot copy (procfs says 0): read to know
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) break;
      return -1;
    }
    plain_copy_ = true;
  }
  const std::int64_t got = from.read(buffer, size);
  if (got <= 0) return got;
  return write(buffer, static_cast<std::size_t>(got)) ? got : -1;
}

void file::close() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

bool is_directory(const std::wstring& path) {
  struct stat st {};
  return ::stat(native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_size(const std::wstring& path, std::uint64_t& size) {
  struct stat st {};
  if (::stat(native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool list_files(const std::wstring& root, std::vector<std::wstring>& relative) {
  std::string dir = native(root);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return list_into(dir, L"", relative, 0);
}

bool create_parent_folders(const std::wstring& path) {
  const std::string p = native(path);
  for (std::size_t i = 1; i < p.size(); ++i) {
    if (p[i] != '/') continue;
    const std::string part = p.substr(0, i);
    ::mkdir(part.c_str(), 0755);  // an existing or unreachable prefix is judged below
  }
  const std::size_t cut = p.find_last_of('/');
  if (cut == std::string::npos) return true;
  struct stat st {};
  return ::stat(p.substr(0, cut == 0 ? 1 : cut).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool remove_file(const std::wstring& path) { return ::unlink(native(path).c_str()) == 0; }

}  // namespace device::os
