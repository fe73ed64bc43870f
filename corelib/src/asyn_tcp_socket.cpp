// The socket's state machine, buffers and owner notifications; the OS side is behind
// asyn_tcp_socket_os.h.
#include "qv/asyn_tcp_socket.h"

#include "asyn_tcp_socket_os.h"
#include "qv/critical_section.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace qv::win32::net {
namespace {

using namespace os;

// Names looked up once stay valid for the life of the process.
struct host_cache {
  qv::win32::multithread::critical_section lock;
  std::map<std::string, std::uint32_t> addresses;
};

host_cache& cache() {
  static host_cache c;
  return c;
}

std::uint32_t cached_address(const std::string& host) {
  auto& c = cache();
  std::lock_guard<qv::win32::multithread::critical_section> guard(c.lock);
  auto it = c.addresses.find(host);
  return it == c.addresses.end() ? kAddressNone : it->second;
}

void remember_address(const std::string& host, std::uint32_t address) {
  auto& c = cache();
  std::lock_guard<qv::win32::multithread::critical_section> guard(c.lock);
  c.addresses[host] = address;
}

qv::loop::window_spec notification_window() {
  qv::loop::window_spec spec;
  spec.class_name = L"asyn_tcp_socket";
  spec.title = L"asyn_tcp_socket";
  spec.desktop_parent = true;
  return spec;
}

}  // namespace

asyn_tcp_socket::asyn_tcp_socket(asyn_tcp_socket_event* owner)
    : owner_(owner), address_(kAddressNone), alive_(std::make_shared<bool>(true)) {}

asyn_tcp_socket::~asyn_tcp_socket() {
  teardown();
  *alive_ = false;
}

bool asyn_tcp_socket::bind(const std::string& host, std::uint16_t port) {
  if (window_ || host.empty() || port == 0) return false;
  window_ = qv::loop::create_window(notification_window(), &asyn_tcp_socket::window_proc, this);
  if (!window_) return false;
  host_ = host;
  port_ = port;
  return true;
}

bool asyn_tcp_socket::send(const void* data, std::uint32_t length) {
  if (!window_ || !send_buffer_.empty() || !data || length == 0) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  send_buffer_.assign(bytes, bytes + length);
  send_position_ = 0;
  start_step();  // may notify the owner, who may destroy this object: touch nothing after it
  return true;
}

void asyn_tcp_socket::close_connection() {
  lookup_.reset();
  socket_.reset();
  send_buffer_.clear();
  send_buffer_.shrink_to_fit();
  send_position_ = 0;
  drop_received();
  state_ = kIdle;
}

void asyn_tcp_socket::teardown() {
  if (!window_) return;
  close_connection();
  qv::loop::window_handle w = window_;
  window_ = nullptr;  // messages still arriving while the window goes away are not ours
  qv::loop::destroy_window(w);
  host_.clear();
  port_ = 0;
  address_ = kAddressNone;
}

void asyn_tcp_socket::start_step() {
  if (state_ != kIdle) {
    if (state_ == kConnected) flush_step();
    return;  // otherwise the block is written once the connection reports it is writable
  }
  int error = 0;
  socket_ = socket_os::create(window_, error);
  if (!socket_) {
    fail_later(error);
    return;
  }
  address_ = parse_dotted(host_);
  if (address_ == kAddressNone) address_ = cached_address(host_);
  if (address_ == kAddressNone || address_ == 0) {
    lookup_ = lookup_os::start(window_, host_, error);
    if (!lookup_) {
      fail_later(error);
      return;
    }
    state_ = kResolving;
    return;
  }
  connect_step();
}

void asyn_tcp_socket::connect_step() {
  int error = socket_->connect(address_, port_);
  if (error == 0 || error == wsa::kWouldBlock) {
    state_ = kConnecting;
  } else {
    fail_later(error);
  }
}

// Failures found while setting up a connection reach the owner through the window, never
// from inside send.
void asyn_tcp_socket::fail_later(int error) {
  state_ = kFailed;
  qv::loop::post_message(window_, kMsgError, static_cast<qv::loop::wparam_t>(error), 0);
}

void asyn_tcp_socket::fail_now(int error) {
  close_connection();
  owner_->on_error(error);
}

void asyn_tcp_socket::flush_step() {
  while (send_position_ < send_buffer_.size()) {
    std::uint32_t written = 0;
    int error = socket_->send(send_buffer_.data() + send_position_,
                              static_cast<std::uint32_t>(send_buffer_.size() - send_position_), written);
    if (error == wsa::kWouldBlock) return;  // the next write notification continues
    if (error != 0) {
      fail_now(error);
      return;
    }
    send_position_ += written;
  }
  auto total = static_cast<std::uint32_t>(send_buffer_.size());
  send_buffer_.clear();
  send_position_ = 0;
  owner_->on_sent(total);  // the owner may send the next block from here
}

void asyn_tcp_socket::drop_received() {
  receive_block_.reset();
  receive_capacity_ = receive_head_ = receive_tail_ = 0;
}

void asyn_tcp_socket::make_receive_room() {
  if (receive_capacity_ - receive_tail_ >= kReadChunk) return;
  const std::size_t held = receive_tail_ - receive_head_;
  if (held + kReadChunk <= receive_capacity_) {
    std::memmove(receive_block_.get(), receive_block_.get() + receive_head_, held);
  } else {
    // Left uninitialised: only received bytes are ever read from it.
    const std::size_t capacity = std::max(2 * receive_capacity_, held + kReadChunk);
    std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity]);
    if (held > 0) std::memcpy(bigger.get(), receive_block_.get() + receive_head_, held);
    receive_block_ = std::move(bigger);
    receive_capacity_ = capacity;
  }
  receive_head_ = 0;
  receive_tail_ = held;
}

bool asyn_tcp_socket::read_step() {
  // Receive straight behind the unconsumed bytes.
  make_receive_room();
  std::uint32_t got = 0;
  int error = socket_->recv(receive_block_.get() + receive_tail_, kReadChunk, got);
  if (error == wsa::kWouldBlock) return false;
  if (error != 0) {
    fail_now(error);
    return false;
  }
  if (got == 0) {
    close_connection();
    owner_->on_closed();
    return false;
  }
  receive_tail_ += got;
  const auto size = static_cast<std::uint32_t>(receive_tail_ - receive_head_);
  std::uint32_t consumed = size;
  std::shared_ptr<bool> alive = alive_;
  owner_->on_received(receive_block_.get() + receive_head_, size, consumed);
  if (!*alive) return false;  // the owner destroyed the socket: nothing of it may be touched
  if (!socket_ || state_ != kConnected) return false;
  if (consumed <= size) {
    receive_head_ += consumed;
    if (receive_head_ == receive_tail_) receive_head_ = receive_tail_ = 0;
  }
  return true;
}

void asyn_tcp_socket::on_network_event(unsigned event, int error) {
  const bool accepted = (event == kFdConnect && state_ == kConnecting) ||
                        ((event == kFdRead || event == kFdWrite || event == kFdClose) &&
                         state_ == kConnected);
  if (!accepted) return;
  if (error != 0) {
    fail_now(error);
    return;
  }
  switch (event) {
    case kFdConnect: {
      std::uint32_t local_address = 0, peer_address = 0;
      std::uint16_t local_port = 0, peer_port = 0;
      socket_->names(local_address, local_port, peer_address, peer_port);
      state_ = kConnected;
      // The pending block goes out with the write notification that follows.
      owner_->on_connected(local_address, local_port, peer_address, peer_port);
      break;
    }
    case kFdWrite:
      flush_step();
      break;
    case kFdRead:
      read_step();
      break;
    case kFdClose: {
      // Drain what is left; ends with on_closed or on_error unless the owner intervenes.
      std::shared_ptr<bool> alive = alive_;
      while (*alive && socket_ && state_ == kConnected) {
        if (!read_step()) break;
      }
      break;
    }
    default:
      break;
  }
}

void asyn_tcp_socket::on_lookup_done(int error) {
  const std::uint32_t address = lookup_->finish();
  lookup_.reset();
  if (error != 0) {
    fail_now(error);
    return;
  }
  address_ = address;
  if (address_ == kAddressNone) {
    fail_now(wsa::kNoData);
    return;
  }
  remember_address(host_, address_);
  connect_step();
}

qv::loop::lresult_t asyn_tcp_socket::window_proc(void* user, qv::loop::window_handle w, unsigned msg,
                                                 qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
  auto* self = static_cast<asyn_tcp_socket*>(user);
  // Messages of window creation and destruction reach the procedure before window_ is set and
  // after it is cleared; they are not ours to handle.
  if (!self || self->window_ != w) return qv::loop::default_window_proc(w, msg, wp, lp);
  return self->handle_message(w, msg, wp, lp);
}

qv::loop::lresult_t asyn_tcp_socket::handle_message(qv::loop::window_handle w, unsigned msg,
                                                    qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
  switch (msg) {
    case kMsgNetwork:
      if (socket_ && wp == socket_->token()) on_network_event(select_event(lp), select_error(lp));
      return 0;
    case kMsgLookup:
      if (state_ == kResolving && lookup_ && wp == lookup_->token()) on_lookup_done(select_error(lp));
      return 0;
    case kMsgError:
      if (state_ == kFailed) fail_now(static_cast<int>(wp));
      return 0;
    case qv::loop::kWmQueryEndSession:
      return 1;
    default:
      return qv::loop::default_window_proc(w, msg, wp, lp);
  }
}

}  // namespace qv::win32::net
