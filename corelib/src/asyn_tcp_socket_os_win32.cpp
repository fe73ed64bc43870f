// Windows Sockets with window-message notification: WSAAsyncSelect and WSAAsyncGetHostByName on
// the socket's own hidden window.
#include "asyn_tcp_socket_os.h"

#include "qv/asyn_tcp_socket.h"

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <cstring>
#include <mutex>
#include <vector>

namespace qv::win32::net::os {
namespace {

// The program starts Windows Sockets at start-up; this keeps the library usable on its own
// (tests, tools). Start-ups are counted, so a second one is harmless.
struct winsock_session {
  winsock_session() {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~winsock_session() {
    if (ok) WSACleanup();
  }
  bool ok = false;
};

void ensure_winsock() { static winsock_session session; }

using lookup_buffer = std::array<char, MAXGETHOSTSTRUCT>;

// A cancelled lookup may still be written by the system after WSACancelAsyncRequest (it cannot
// stop a lookup that already finished, and some implementations do not stop any); its buffer is
// kept for the life of the process instead of being freed under the writer.
void retire(std::unique_ptr<lookup_buffer> buffer) {
  static std::mutex lock;
  static std::vector<std::unique_ptr<lookup_buffer>> retired;
  std::lock_guard<std::mutex> guard(lock);
  retired.push_back(std::move(buffer));
}

class win32_socket final : public socket_os {
 public:
  win32_socket(qv::loop::window_handle window, SOCKET s) : window_(static_cast<HWND>(window)), s_(s) {}

  ~win32_socket() override {
    WSAAsyncSelect(s_, window_, 0, 0);
    closesocket(s_);
  }

  std::uintptr_t token() const override { return static_cast<std::uintptr_t>(s_); }

  int connect(std::uint32_t address_n, std::uint16_t port) override {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address_n;
    if (::connect(s_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
    return WSAGetLastError();
  }

  int send(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) override {
    written = 0;
    int n = ::send(s_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    written = static_cast<std::uint32_t>(n);
    return 0;
  }

  int recv(std::uint8_t* data, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    int n = ::recv(s_, reinterpret_cast<char*>(data), static_cast<int>(size), 0);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    got = static_cast<std::uint32_t>(n);
    return 0;
  }

  void names(std::uint32_t& local_address, std::uint16_t& local_port, std::uint32_t& peer_address,
             std::uint16_t& peer_port) override {
    local_address = peer_address = 0;
    local_port = peer_port = 0;
    sockaddr_in sa{};
    int len = sizeof sa;
    if (getsockname(s_, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
      local_address = sa.sin_addr.s_addr;
      local_port = ntohs(sa.sin_port);
    }
    sa = sockaddr_in{};
    len = sizeof sa;
    if (getpeername(s_, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
      peer_address = sa.sin_addr.s_addr;
      peer_port = ntohs(sa.sin_port);
    }
  }

 private:
  HWND window_;
  SOCKET s_;
};

class win32_lookup final : public lookup_os {
 public:
  win32_lookup(HANDLE handle, std::unique_ptr<lookup_buffer> buffer)
      : handle_(handle), buffer_(std::move(buffer)) {}

  ~win32_lookup() override {
    if (finished_) return;
    WSACancelAsyncRequest(handle_);
    retire(std::move(buffer_));
  }

  std::uintptr_t token() const override { return reinterpret_cast<std::uintptr_t>(handle_); }

  std::uint32_t finish() override {
    finished_ = true;
    const auto* entry = reinterpret_cast<const hostent*>(buffer_->data());
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
        !entry->h_addr_list[0]) {
      return kAddressNone;
    }
    std::uint32_t address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
  }

 private:
  HANDLE handle_;
  std::unique_ptr<lookup_buffer> buffer_;
  bool finished_ = false;
};

}  // namespace

std::unique_ptr<socket_os> socket_os::create(qv::loop::window_handle window, int& error) {
  ensure_winsock();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    error = WSAGetLastError();
    return nullptr;
  }
  if (WSAAsyncSelect(s, static_cast<HWND>(window), kMsgNetwork, kFdAll) != 0) {
    error = WSAGetLastError();
    closesocket(s);
    return nullptr;
  }
  error = 0;
  return std::make_unique<win32_socket>(window, s);
}

std::unique_ptr<lookup_os> lookup_os::start(qv::loop::window_handle window, const std::string& host,
                                            int& error) {
  ensure_winsock();
  auto buffer = std::make_unique<lookup_buffer>();
  buffer->fill(0);
  HANDLE h = WSAAsyncGetHostByName(static_cast<HWND>(window), kMsgLookup, host.c_str(), buffer->data(),
                                   static_cast<int>(buffer->size()));
  if (!h) {
    error = WSAGetLastError();
    return nullptr;
  }
  error = 0;
  return std::make_unique<win32_lookup>(h, std::move(buffer));
}

std::uint32_t parse_dotted(const std::string& host) {
  ensure_winsock();
  return ::inet_addr(host.c_str());
}

}  // namespace qv::win32::net::os
