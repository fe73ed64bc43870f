#include "server_socket_os.h"

#include "qv/text.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace tivorel_help::os {
namespace {

// Winsock is started once for the life of the program.
struct winsock_session {
  bool ok = false;
  winsock_session() {
    WSADATA data;
    ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~winsock_session() {
    if (ok) ::WSACleanup();
  }
};

std::string system_words(int code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(code);
  if (text) ::LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
    words.pop_back();
  return qv::text::wide_to_utf8(words) + " (" + std::to_string(code) + ")";
}

// Waits until s is writable (or, with for_read, readable); false on time-out.
bool wait_for(SOCKET s, bool for_read, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set fail;
  FD_ZERO(&fail);
  FD_SET(s, &fail);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int r = ::select(0, for_read ? &set : nullptr, for_read ? nullptr : &set, &fail,
                         timeout_ms < 0 ? nullptr : &tv);
  return r != 0;  // an error is reported by the next call
}

class win_socket final : public server_socket {
 public:
  explicit win_socket(SOCKET s) : s_(s) {}
  ~win_socket() override { ::closesocket(s_); }
  win_socket(const win_socket&) = delete;
  win_socket& operator=(const win_socket&) = delete;

  io_status send_all(const char* data, std::size_t size, std::size_t& sent,
                     int timeout_ms) override {
    sent = 0;
    while (size > 0) {
      const int chunk = size > (1u << 20) ? (1 << 20) : static_cast<int>(size);
      const int n = ::send(s_, data, chunk, 0);
      if (n > 0) {
        data += n;
        size -= static_cast<std::size_t>(n);
        sent += static_cast<std::size_t>(n);
        continue;
      }
      const int err = ::WSAGetLastError();
      if (err == WSAEWOULDBLOCK) {
        if (!wait_for(s_, false, timeout_ms)) return io_status::timed_out;
        continue;
      }
      return (err == WSAECONNRESET || err == WSAECONNABORTED) ? io_status::closed
                                                               : io_status::failed;
    }
    return io_status::ok;
  }

  io_status receive_some(char* buffer, std::size_t capacity, std::size_t& got,
                         int timeout_ms) override {
    got = 0;
    const int cap = capacity > (1u << 20) ? (1 << 20) : static_cast<int>(capacity);
    for (;;) {
      const int n = ::recv(s_, buffer, cap, 0);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return io_status::ok;
      }
      if (n == 0) return io_status::closed;
      const int err = ::WSAGetLastError();
      if (err == WSAEWOULDBLOCK) {
        if (!wait_for(s_, true, timeout_ms)) return io_status::timed_out;
        continue;
      }
      return (err == WSAECONNRESET || err == WSAECONNABORTED) ? io_status::closed
                                                               : io_status::failed;
    }
  }

 private:
  SOCKET s_;
};

}  // namespace

std::unique_ptr<server_socket> connect_loopback(int port, int timeout_ms, bool& refused,
                                                std::string& why) {
  static winsock_session session;
  refused = false;
  if (!session.ok) {
    why = "Winsock is not available";
    return nullptr;
  }
  // No child is started while a server socket is open, so inheritance does not matter.
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    why = system_words(::WSAGetLastError());
    return nullptr;
  }
  auto sock = std::make_unique<win_socket>(s);
  u_long nonblocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonblocking);
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<u_short>(port));
  int err = 0;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
      fd_set w;
      FD_ZERO(&w);
      FD_SET(s, &w);
      fd_set f;
      FD_ZERO(&f);
      FD_SET(s, &f);
      timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
      const int r = ::select(0, nullptr, &w, &f, &tv);
      if (r == 0) {
        why = system_words(WSAETIMEDOUT);
        return nullptr;
      }
      err = 0;
      if (FD_ISSET(s, &f)) {
        int len = sizeof err;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
        if (err == 0) err = WSAECONNREFUSED;
      }
    }
  }
  if (err != 0) {
    refused = err == WSAECONNREFUSED;
    why = system_words(err);
    return nullptr;
  }
  return sock;
}

}  // namespace tivorel_help::os
