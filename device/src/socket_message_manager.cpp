#include "device/socket_message_manager.h"

#include "hostbase/message_window.h"
#include "qv/singleton_ex.h"

#include <cstdio>
#include <map>
#include <utility>

namespace device {
namespace {

using qv::win32::net::asyn_tcp_socket;

const char* const kLoopbackHost = "127.0.0.1";

log_sink& current_sink() {
  static log_sink sink;
  return sink;
}

}  // namespace

log_sink set_log_sink(log_sink sink) {
  log_sink old = std::move(current_sink());
  current_sink() = std::move(sink);
  return old;
}

void log_line(const std::string& line) {
  if (current_sink()) {
    current_sink()(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

// Finished requests are released through the process's message window. What travels in the
// message is a ticket, not a handler: a ticket whose manager or request is gone by the time it
// arrives finds nothing, so no release can touch a handler that a cancellation already freed.
// The relay has static storage and outlives every message posted to it. UI thread only.
class release_relay : public hostbase::MessageHandler {
 public:
  static release_relay& instance() {
    static release_relay relay;
    return relay;
  }

  bool post(socket_message_manager* manager, std::uint32_t id) {
    auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
    if (!window) return false;
    const qv::loop::lparam_t ticket = next_ticket_++;
    tickets_[ticket] = {manager->alive_, manager, id};
    if (window->PostHandlerMessage(this, ticket)) return true;
    tickets_.erase(ticket);
    return false;
  }

  void OnMessage(qv::loop::lparam_t ticket) override {
    auto it = tickets_.find(ticket);
    if (it == tickets_.end()) return;
    const entry e = it->second;
    tickets_.erase(it);
    if (auto alive = e.alive.lock(); alive && *alive) e.manager->release(e.id);
  }

 private:
  struct entry {
    std::weak_ptr<bool> alive;
    socket_message_manager* manager;
    std::uint32_t id;
  };
  std::map<qv::loop::lparam_t, entry> tickets_;
  qv::loop::lparam_t next_ticket_ = 1;
};

// ---- SocketMessageCallback ------------------------------------------------------------------

SocketMessageCallback::SocketMessageCallback(std::uint32_t request_id, socket_message_manager* manager)
    : request_id_(request_id), manager_(manager), alive_(std::make_shared<bool>(true)) {}

SocketMessageCallback::~SocketMessageCallback() { *alive_ = false; }

void SocketMessageCallback::on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) {
  auto r = frames_.extract(data, size, consumed, [this](std::uint16_t code, const std::uint8_t* body,
                                                        std::uint32_t length) { return dispatch(code, body, length); });
  if (r == frame_extractor::result::stopped) return;  // this handler may be gone
  if (r == frame_extractor::result::oversized) fail();
}

bool SocketMessageCallback::dispatch(std::uint16_t code, const std::uint8_t* body, std::uint32_t size) {
  // Frames after the end of the reply, or of a cancelled request, are consumed and dropped.
  if (finished_ || !manager_->has_request(request_id_)) return true;
  decoded_reply reply = decode_reply(code, body, size, manager_->device_id());
  if (!reply.listed) {
    // A modal box here would run a nested message loop inside the socket's notification.
    log_line("Socket.Manager: reply code " + std::to_string(code) + " ignored: 发现新的类型回调，但是没有处理");
    return true;
  }
  if (reply.final) finished_ = true;
  if (reply.deliver) {
    std::shared_ptr<bool> alive = alive_;
    manager_->call_request(request_id_, reply.args);
    if (!*alive) return false;  // cancelled or destroyed from inside the callback
  }
  if (reply.final) schedule_release();
  return true;
}

// The connection breaks the protocol (a frame too large to buffer): it ends as a failed request.
void SocketMessageCallback::fail() {
  auto it = manager_->requests_.find(request_id_);
  if (it != manager_->requests_.end() && it->second.socket) it->second.socket->close_connection();
  on_error(0);
}

void SocketMessageCallback::on_error(std::int32_t) {
  frames_.reset();
  if (finished_) {
    schedule_release();
    return;
  }
  finished_ = true;
  std::shared_ptr<bool> alive = alive_;
  manager_->call_request(request_id_, socket_error_arguments(manager_->device_id()));
  if (!*alive) return;
  schedule_release();
}

void SocketMessageCallback::on_closed() {
  frames_.reset();
  finished_ = true;  // a close before the final frame ends the request without a reply
  schedule_release();
}

void SocketMessageCallback::schedule_release() {
  if (release_scheduled_) return;
  release_scheduled_ = true;
  manager_->release_later(request_id_);
}

// ---- socket_message_manager -----------------------------------------------------------------

socket_message_manager::port_table socket_message_manager::default_ports() {
  return {device::forward_port(0), device::forward_port(1), device::forward_port(2), device::forward_port(3)};
}

socket_message_manager::socket_message_manager(std::string device_id, port_table ports)
    : device_id_(std::move(device_id)), ports_(ports), alive_(std::make_shared<bool>(true)) {}

socket_message_manager::~socket_message_manager() {
  cancel_all();
  close_event_channel();
  listener_.reset();
  *alive_ = false;  // releases still on their way find nothing
}

void socket_message_manager::init(agent_callback listener) {
  if (initialized_) return;
  initialized_ = true;
  event_socket_ = std::make_unique<asyn_tcp_socket>(this);
  event_socket_->bind(kLoopbackHost, static_cast<std::uint16_t>(ports_[3]));
  if (listener) listener_ = std::make_shared<agent_callback>(std::move(listener));
}

void socket_message_manager::connect() {
  if (!event_socket_ || !event_socket_->bound()) return;
  if (event_socket_->state() == asyn_tcp_socket::kIdle) event_frames_.reset();  // a fresh connection
  const std::vector<std::uint8_t> frame = subscription_frame();
  event_socket_->send(frame.data(), static_cast<std::uint32_t>(frame.size()));
}

std::uint32_t socket_message_manager::send_message(std::int64_t code, const std::vector<request_argument>& args,
                                                   agent_callback callback) {
  const std::vector<std::uint8_t> frame = build_request_frame(code, args);
  const std::uint32_t id = ++last_request_id_;
  request_entry entry;
  entry.code = code;
  entry.id = id;
  if (callback) entry.callback = std::make_shared<agent_callback>(std::move(callback));
  entry.handler = std::make_unique<SocketMessageCallback>(id, this);
  entry.socket = std::make_unique<asyn_tcp_socket>(entry.handler.get());
  asyn_tcp_socket* socket = entry.socket.get();
  requests_.emplace(id, std::move(entry));
  // Without a binding nothing is sent; the request stays until it is cancelled.
  if (socket->bind(kLoopbackHost, static_cast<std::uint16_t>(ports_[0]))) {
    // A new connection reports failures later, through the loop, never from inside send.
    socket->send(frame.data(), static_cast<std::uint32_t>(frame.size()));
  }
  return id;
}

void socket_message_manager::cancel(std::uint32_t id) { release(id); }

void socket_message_manager::cancel_all() {
  std::map<std::uint32_t, request_entry> doomed;
  doomed.swap(requests_);
  // Each entry goes as in release: callback, socket (torn down by its destructor), handler.
  for (auto& e : doomed) {
    e.second.callback.reset();
    e.second.socket.reset();
    e.second.handler.reset();
  }
}

void socket_message_manager::uninit() {
  close_event_channel();
  listener_.reset();
}

std::uint32_t socket_message_manager::forward_port(std::int64_t kind) const {
  return kind >= 0 && kind <= 3 ? ports_[static_cast<std::size_t>(kind)] : 0;
}

void socket_message_manager::call_request(std::uint32_t id, const agent_values& args) {
  auto it = requests_.find(id);
  if (it == requests_.end() || !it->second.callback) return;
  // Held here: the callback may release its own request (and with it the stored function).
  std::shared_ptr<agent_callback> callback = it->second.callback;
  (*callback)(args);
}

void socket_message_manager::call_listener(const agent_values& args) {
  if (!listener_) return;
  std::shared_ptr<agent_callback> listener = listener_;
  (*listener)(args);
}

void socket_message_manager::release_later(std::uint32_t id) {
  // Without the message window (it lives from start-up to shutdown) the finished request stays
  // until it is cancelled or the manager goes.
  release_relay::instance().post(this, id);
}

void socket_message_manager::release(std::uint32_t id) {
  auto it = requests_.find(id);
  if (it == requests_.end()) return;
  request_entry entry = std::move(it->second);
  requests_.erase(it);
  entry.callback.reset();
  entry.socket.reset();
  entry.handler.reset();
}

void socket_message_manager::close_event_channel() {
  if (!event_socket_) return;
  ++event_epoch_;
  event_socket_->teardown();
  event_socket_.reset();
  event_frames_.reset();
}

void socket_message_manager::on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) {
  std::shared_ptr<bool> alive = alive_;
  const std::uint64_t epoch = event_epoch_;
  auto r = event_frames_.extract(data, size, consumed,
                                 [&](std::uint16_t code, const std::uint8_t* body, std::uint32_t length) {
                                   agent_values args;
                                   if (!decode_notification(code, body, length, device_id_, args)) return true;
                                   call_listener(args);
                                   // The listener may have closed the channel or destroyed us.
                                   return *alive && event_epoch_ == epoch;
                                 });
  if (r != frame_extractor::result::oversized) return;
  // A frame too large to buffer ends the connection as an error; a later Connect reconnects.
  event_socket_->close_connection();
  on_error(0);
}

void socket_message_manager::on_error(std::int32_t) {
  event_frames_.reset();
  call_listener(event_channel_error_arguments(device_id_));
}

}  // namespace device
