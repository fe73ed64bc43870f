// File transfer's OS layer on Windows: blocking Winsock and Win32 files. "/" in paths means "\".
#include "x_os.h"

#include "device/socket_message_manager.h"
#include "qv/text.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>

namespace device::os {
namespace {

SOCKET sock(socket_handle s) { return static_cast<SOCKET>(s); }
HANDLE h(std::intptr_t v) { return reinterpret_cast<HANDLE>(v); }

std::wstring native(const std::wstring& path) {
  std::wstring r = path;
  std::replace(r.begin(), r.end(), L'/', L'\\');
  return r;
}

void ensure_winsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

bool list_into(const std::wstring& dir, const std::wstring& prefix, std::vector<std::wstring>& out, int depth) {
  if (depth > 256) return false;
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (f == INVALID_HANDLE_VALUE) return false;
  struct entry {
    std::wstring name;
    bool folder;
    bool link;
  };
  std::vector<entry> entries;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back({name, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
  } while (FindNextFileW(f, &fd));
  FindClose(f);
  std::sort(entries.begin(), entries.end(), [](const entry& a, const entry& b) { return a.name < b.name; });
  for (const auto& e : entries) {
    if (e.folder && e.link) {
      log_line("folder walk: left out " + qv::text::wide_to_utf8(dir + L"\\" + e.name) +
               ": a link to a folder is not followed");
    } else if (e.folder) {
      if (!list_into(dir + L"\\" + e.name, prefix + e.name + L"\\", out, depth + 1)) return false;
    } else {
      out.push_back(prefix + e.name);
    }
  }
  return true;
}

}  // namespace

socket_handle tcp_socket() {
  ensure_winsock();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<socket_handle>(s);
}

bool set_linger(socket_handle s, unsigned seconds) {
  LINGER l{};
  l.l_onoff = 1;
  l.l_linger = static_cast<u_short>(seconds > 0xFFFF ? 0xFFFF : seconds);
  return ::setsockopt(sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) == 0;
}

bool connect_loopback(socket_handle s, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(sock(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool send_all(socket_handle s, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const int piece = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    const int n = ::send(sock(s), p, piece, 0);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool receive_byte(socket_handle s) {
  char b;
  return ::recv(sock(s), &b, 1, 0) == 1;
}

// Shutdown alone does not wake a blocked call on every Windows version: pending I/O on the
// socket is cancelled as well. The handle stays open until the worker closes it.
void abort_socket(socket_handle s) {
  ::shutdown(sock(s), SD_BOTH);
  CancelIoEx(reinterpret_cast<HANDLE>(sock(s)), nullptr);
}

void close_socket(socket_handle s) { ::closesocket(sock(s)); }

bool file::open_read(const std::wstring& path) {
  close();
  HANDLE f = CreateFileW(native(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(f);
  return true;
}

bool file::create_write(const std::wstring& path) {
  close();
  HANDLE f = CreateFileW(native(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(f);
  return true;
}

// Opened without emptying it first. The source is open without write sharing, so the system
// already refuses to open it again here; the file id check holds whatever the sharing.
file::target file::create_copy_target(const std::wstring& path, const file& source) {
  close();
  HANDLE f = CreateFileW(native(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return target::failed;
  BY_HANDLE_FILE_INFORMATION mine{}, theirs{};
  target result = target::failed;
  if (GetFileInformationByHandle(f, &mine) && GetFileInformationByHandle(h(source.handle_), &theirs)) {
    if (mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber && mine.nFileIndexHigh == theirs.nFileIndexHigh &&
        mine.nFileIndexLow == theirs.nFileIndexLow)
      result = target::same_file;
    else if (SetEndOfFile(f))  // the position is 0 after opening
      result = target::ready;
  }
  if (result != target::ready) {
    CloseHandle(f);
    return result;
  }
  handle_ = reinterpret_cast<std::intptr_t>(f);
  return result;
}

std::int64_t file::read(void* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000u));
  if (!ReadFile(h(handle_), buffer, want, &got, nullptr)) return -1;
  return got;
}

bool file::write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD done = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000u));
    if (!WriteFile(h(handle_), p, want, &done, nullptr) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

std::int64_t file::copy_from(file& from, void* buffer, std::size_t size) {
  const std::int64_t got = from.read(buffer, size);
  if (got <= 0) return got;
  return write(buffer, static_cast<std::size_t>(got)) ? got : -1;
}

void file::close() {
  if (handle_ != kNone) CloseHandle(h(handle_));
  handle_ = kNone;
}

bool is_directory(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(native(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool file_size(const std::wstring& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(native(path).c_str(), GetFileExInfoStandard, &d)) return false;
  if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  return true;
}

bool list_files(const std::wstring& root, std::vector<std::wstring>& relative) {
  std::wstring dir = native(root);
  while (dir.size() > 1 && dir.back() == L'\\') dir.pop_back();
  return list_into(dir, L"", relative, 0);
}

bool create_parent_folders(const std::wstring& path) {
  const std::wstring p = native(path);
  for (std::size_t i = 1; i < p.size(); ++i) {
    if (p[i] != L'\\') continue;
    const std::wstring part = p.substr(0, i);
    CreateDirectoryW(part.c_str(), nullptr);  // drives and shares fail here, harmlessly
  }
  const std::size_t cut = p.find_last_of(L'\\');
  return cut == std::wstring::npos || is_directory(p.substr(0, cut == 0 ? 1 : cut));
}

bool remove_file(const std::wstring& path) { return DeleteFileW(native(path).c_str()) != 0; }

}  // namespace device::os
