// One device's conversation with its agent: the long-lived event channel and a table of
// outstanding requests on the command channel, one connection and one callback per request.
//
// Everything runs on the UI thread. Callbacks and the event listener receive decoded argument
// lists; they may cancel any request, uninitialise or destroy the manager while being called,
// and nothing touches a released request, socket or handler afterwards. Finished requests are
// released later through the process's message window (hostbase::CMessageWindow), so a socket is
// never destroyed under its own notification.
#pragma once

#include "device/agent_protocol.h"
#include "qv/asyn_tcp_socket.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace device {

// Receives the argument lists of a request's replies, or the event channel's notifications.
using agent_callback = std::function<void(const agent_values& args)>;

// Where diagnostics go (one line each); standard error unless replaced. Returns the old sink.
using log_sink = std::function<void(const std::string& line)>;
log_sink set_log_sink(log_sink sink);
void log_line(const std::string& line);

class socket_message_manager;

// The per-request sink: cuts reply frames out of its connection and hands them to the manager.
class SocketMessageCallback : public qv::win32::net::asyn_tcp_socket_event {
 public:
  SocketMessageCallback(std::uint32_t request_id, socket_message_manager* manager);
  ~SocketMessageCallback() override;

  std::uint32_t request_id() const { return request_id_; }

  void on_connected(std::uint32_t, std::uint16_t, std::uint32_t, std::uint16_t) override {}
  void on_sent(std::uint32_t) override {}
  void on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) override;
  void on_error(std::int32_t code) override;
  void on_closed() override;

 private:
  bool dispatch(std::uint16_t code, const std::uint8_t* body, std::uint32_t size);
  void fail();
  void schedule_release();

  frame_extractor frames_;
  std::uint32_t request_id_;
  socket_message_manager* manager_;  // not owned; outlives every handler it owns
  bool finished_ = false;            // the final frame (or a failure) ended the request
  bool release_scheduled_ = false;
  std::shared_ptr<bool> alive_;
};

class socket_message_manager : public qv::win32::net::asyn_tcp_socket_event {
 public:
  // Ports by port kind (0 command, 1, 2, 3 event).
  using port_table = std::array<std::uint32_t, 4>;
  static port_table default_ports();

  explicit socket_message_manager(std::string device_id, port_table ports = default_ports());
  // Cancels every request as cancel_all does and closes the event channel.
  ~socket_message_manager() override;
  socket_message_manager(const socket_message_manager&) = delete;
  socket_message_manager& operator=(const socket_message_manager&) = delete;

  // Only the first call acts: binds the event channel (no connection yet) and keeps the
  // listener (an empty one drops notifications).
  void init(agent_callback listener);
  // Sends the subscription frame, connecting first when needed; nothing when unbound or while
  // an earlier block is still being written.
  void connect();
  // Sends one request on a new connection; returns its id (1, 2, ...). An empty callback still
  // sends the request.
  std::uint32_t send_message(std::int64_t code, const std::vector<request_argument>& args, agent_callback callback);
  // Releases the request without calling anything; unknown ids are ignored.
  void cancel(std::uint32_t id);
  void cancel_all();
  // Closes the event channel and drops the listener; the manager stays initialised.
  void uninit();
  std::uint32_t forward_port(std::int64_t kind) const;

  const std::string& device_id() const { return device_id_; }
  bool initialized() const { return initialized_; }
  bool has_request(std::uint32_t id) const { return requests_.count(id) != 0; }
  std::size_t request_count() const { return requests_.size(); }
  bool event_channel_bound() const { return event_socket_ && event_socket_->bound(); }

  // Event channel sink.
  void on_connected(std::uint32_t, std::uint16_t, std::uint32_t, std::uint16_t) override {}
  void on_sent(std::uint32_t) override {}
  void on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) override;
  void on_error(std::int32_t code) override;
  void on_closed() override {}

 private:
  friend class SocketMessageCallback;

  struct request_entry {
    std::int64_t code = 0;
    std::uint32_t id = 0;
    std::shared_ptr<agent_callback> callback;  // null when none was given
    std::unique_ptr<SocketMessageCallback> handler;
    std::unique_ptr<qv::win32::net::asyn_tcp_socket> socket;
  };

  // Calls the request's callback (if it still exists and has one) with args.
  void call_request(std::uint32_t id, const agent_values& args);
  void call_listener(const agent_values& args);
  void release_later(std::uint32_t id);
  void release(std::uint32_t id);
  void close_event_channel();
  friend class release_relay;

  bool initialized_ = false;
  std::map<std::uint32_t, request_entry> requests_;
  std::uint32_t last_request_id_ = 0;
  std::unique_ptr<qv::win32::net::asyn_tcp_socket> event_socket_;
  std::shared_ptr<agent_callback> listener_;
  frame_extractor event_frames_;
  std::uint64_t event_epoch_ = 0;  // changes whenever the event channel's socket goes away
  std::string device_id_;
  port_table ports_;
  std::shared_ptr<bool> alive_;
};

}  // namespace device
