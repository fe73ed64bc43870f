// Asynchronous HTTP/1.1 client on one asyn_tcp_socket, driven by the socket's notifications on
// the UI thread. One request at a time; "http://" only; no time-out of its own.
#pragma once

#include "qv/asyn_tcp_socket.h"
#include "qv/http_message.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qv::win32::net {

// The owner's sink. Listeners may call close() or destroy the client from inside any of these;
// the client touches nothing of its own afterwards.
class asyn_http_event {
 public:
  virtual ~asyn_http_event() = default;
  // The complete response; it is destroyed as soon as this returns.
  virtual void on_response(std::int32_t request_id, const http_response& response) = 0;
  // The request failed: an error number of http_error, or a socket error number.
  virtual void on_error(std::int32_t request_id, std::int32_t error_code) = 0;
  // One piece of decoded body; offset counts the body bytes delivered before it. Leaving keep
  // true appends the piece to response.body. data and response are valid during the call only
  // (and no longer once the listener closed or destroyed the client).
  virtual void on_data(std::int32_t request_id, const http_response& response, const char* data,
                       std::uint32_t length, std::uint64_t offset, bool& keep) {
    (void)request_id, (void)response, (void)data, (void)length, (void)offset, (void)keep;
  }
};

class asyn_http : public asyn_tcp_socket_event {
 public:
  static constexpr std::uint32_t kMaxRedirects = 5;

  explicit asyn_http(asyn_http_event* owner);
  ~asyn_http() override;
  asyn_http(const asyn_http&) = delete;
  asyn_http& operator=(const asyn_http&) = delete;

  // GET of an "http://" URL. False when a request is active or the URL is refused. The owner
  // may receive on_error before this returns (a failure on a kept-alive connection).
  bool request(std::int32_t request_id, const std::string& url);
  // The same, with extra headers appended after Host in their order.
  bool request(std::int32_t request_id, const std::string& url,
               const http_header_list& extra_headers);
  // Sends a ready request to the server named by its Host header ("host" or "host:port").
  bool send_request(std::int32_t request_id, const http_request& request);
  bool is_requesting() const { return requesting_; }
  // Abandons the request without any event and drops the connection and the binding.
  void close();

  std::uint32_t redirect_count() const { return redirect_count_; }

 private:
  void on_connected(std::uint32_t local_address, std::uint16_t local_port,
                    std::uint32_t peer_address, std::uint16_t peer_port) override;
  void on_sent(std::uint32_t length) override;
  void on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) override;
  void on_error(std::int32_t code) override;
  void on_closed() override;

  void reset_request_state();
  void fail(std::int32_t code);
  void completion_step();
  void follow_redirect();

  asyn_http_event* owner_;
  asyn_tcp_socket socket_;
  std::int32_t request_id_ = 0;
  bool requesting_ = false;
  bool sent_ = false;
  bool complete_ = false;
  std::string host_;
  std::uint16_t port_ = 80;
  std::uint32_t redirect_count_ = 0;
  http_request request_;
  std::unique_ptr<http_response> response_;
  std::unique_ptr<http_response_parser> parser_;
  std::string piece_;
  std::uint64_t delivered_ = 0;
  // Bumped whenever a request ends, so code that called out can tell its request is gone.
  std::uint64_t generation_ = 0;
  // Cleared by the destructor; callers out keep a copy to learn whether they were destroyed.
  std::shared_ptr<bool> alive_;
};

}  // namespace qv::win32::net
