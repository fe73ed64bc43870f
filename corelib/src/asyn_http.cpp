#include "qv/asyn_http.h"

#include <limits>

namespace qv::win32::net {

namespace {

bool has_line_break(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// A request whose parts carry line breaks would put text of the caller's choosing on the wire
// as extra header lines or requests.
bool request_is_clean(const http_request& r) {
  if (r.method.empty() || r.request_uri.empty() || r.http_version.empty()) return false;
  if (r.method.find(' ') != std::string::npos || r.request_uri.find(' ') != std::string::npos)
    return false;
  if (has_line_break(r.method) || has_line_break(r.request_uri) || has_line_break(r.http_version))
    return false;
  for (const auto& p : r.headers)
    if (p.first.empty() || has_line_break(p.first) || has_line_break(p.second)) return false;
  return true;
}

// "host" or "host:port" from a Host header; false for an empty host or a bad port.
bool split_host(const std::string& value, std::string& host, std::uint16_t& port) {
  const std::size_t colon = value.find(':');
  host = value.substr(0, colon);
  std::uint32_t p = 80;
  if (colon != std::string::npos) {
    const std::string digits = value.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    p = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      p = p * 10 + static_cast<std::uint32_t>(c - '0');
    }
  }
  if (host.empty() || p == 0 || p > 65535) return false;
  port = static_cast<std::uint16_t>(p);
  return true;
}

bool is_redirect(std::int32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307;
}

// "name:" at the start of a Location, as in "https://...": another scheme we cannot follow.
bool has_scheme(const std::string& location) {
  for (std::size_t i = 0; i < location.size(); ++i) {
    const char c = location[i];
    if (c == ':') return i > 0;
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return false;
  }
  return false;
}

}  // namespace

asyn_http::asyn_http(asyn_http_event* owner)
    : owner_(owner), socket_(this), alive_(std::make_shared<bool>(true)) {}

asyn_http::~asyn_http() {
  *alive_ = false;
  socket_.teardown();
}

bool asyn_http::request(std::int32_t request_id, const std::string& url) {
  return request(request_id, url, http_header_list());
}

bool asyn_http::request(std::int32_t request_id, const std::string& url,
                        const http_header_list& extra_headers) {
  if (requesting_) return false;
  http_url u;
  if (!parse_http_url(url, u)) return false;
  http_request r;
  r.request_uri = u.request_uri;
  r.headers.append({"Host", http_host_value(u.host, u.port)});
  for (const auto& p : extra_headers) r.headers.append(p);
  return send_request(request_id, r);
}

bool asyn_http::send_request(std::int32_t request_id, const http_request& request) {
  if (requesting_ || !request_is_clean(request)) return false;
  std::string host;
  std::uint16_t port = 0;
  if (!split_host(request.headers.find("Host"), host, port)) return false;
  const std::string wire = request.serialize();
  if (wire.size() > std::numeric_limits<std::uint32_t>::max()) return false;

  if (!(socket_.bound() && host == host_ && port == port_)) {
    if (socket_.bound()) socket_.teardown();
    host_.clear();
    port_ = 0;
    if (!socket_.bind(host, port)) return false;
    host_ = host;
    port_ = port;
  }
  // The state is in place before the socket is called: on a kept-alive connection it writes at
  // once and may report on_sent or on_error before send returns.
  request_ = request;
  request_id_ = request_id;
  requesting_ = true;
  sent_ = complete_ = false;
  const std::uint64_t generation = ++generation_;
  const auto alive = alive_;
  const bool ok = socket_.send(wire.data(), static_cast<std::uint32_t>(wire.size()));
  if (!*alive) return ok;
  if (!ok && generation == generation_) {
    reset_request_state();
    request_id_ = 0;
  }
  return ok;
}

void asyn_http::reset_request_state() {
  requesting_ = sent_ = complete_ = false;
  request_ = http_request();
  response_.reset();
  parser_.reset();
  delivered_ = 0;
  ++generation_;
}

void asyn_http::close() {
  request_id_ = 0;
  redirect_count_ = 0;
  reset_request_state();
  socket_.teardown();
  host_.clear();
  port_ = 0;
}

void asyn_http::fail(std::int32_t code) {
  const std::int32_t id = request_id_;
  close();
  owner_->on_error(id, code);
}

void asyn_http::on_connected(std::uint32_t, std::uint16_t, std::uint32_t, std::uint16_t) {}

void asyn_http::on_sent(std::uint32_t) {
  if (!requesting_) return;
  sent_ = true;
  completion_step();
}

void asyn_http::on_received(const std::uint8_t* data, std::uint32_t size,
                            std::uint32_t& consumed) {
  consumed = size;
  if (!requesting_) {
    // Bytes nobody asked for: the connection is out of step with us; drop it rather than let
    // them pile up or prefix the next response.
    socket_.close_connection();
    return;
  }
  if (!parser_) {
    response_ = std::make_unique<http_response>();
    parser_ = std::make_unique<http_response_parser>();
    // Without this the length of the entity a HEAD answer describes would be waited for forever.
    parser_->set_no_body(request_.method == "HEAD");
  }
  const std::int32_t r =
      parser_->parse(reinterpret_cast<const char*>(data), size, *response_, piece_);
  if (r != 0 && r != http_error::kNeedMoreData) {
    fail(r);
    return;
  }
  if (!piece_.empty()) {
    bool keep = true;
    const std::uint64_t offset = delivered_;
    delivered_ += piece_.size();
    const auto alive = alive_;
    const std::uint64_t generation = generation_;
    owner_->on_data(request_id_, *response_, piece_.data(),
                    static_cast<std::uint32_t>(piece_.size()), offset, keep);
    if (!*alive || generation != generation_) return;
    if (keep) response_->body += piece_;
  }
  if (parser_->complete()) {
    complete_ = true;
    completion_step();
  }
}

void asyn_http::on_error(std::int32_t code) {
  if (requesting_) fail(code);
}

void asyn_http::on_closed() {
  if (!requesting_) return;
  if (!response_) {
    fail(http_error::kConnectionClosed);
    return;
  }
  if (parser_->complete_on_close() || complete_) {
    // A whole response stands even if the socket never confirmed the end of our request.
    complete_ = sent_ = true;
    completion_step();
    return;
  }
  fail(http_error::kConnectionClosed);
}

void asyn_http::completion_step() {
  if (!(sent_ && complete_ && response_)) return;
  const bool keep_alive = http_iequals(request_.headers.find("Connection"), "Keep-Alive") &&
                          http_iequals(response_->headers.find("Connection"), "Keep-Alive");
  if (!keep_alive) socket_.close_connection();

  if (is_redirect(response_->status_code)) {
    follow_redirect();
    return;
  }
  redirect_count_ = 0;
  std::unique_ptr<http_response> response = std::move(response_);
  const std::int32_t id = request_id_;
  reset_request_state();
  owner_->on_response(id, *response);
}

void asyn_http::follow_redirect() {
  if (redirect_count_ >= kMaxRedirects) {
    fail(http_error::kTooManyRedirects);
    return;
  }
  const std::string location = response_->headers.find("Location");
  http_url target;
  bool ok;
  if (location.size() >= 7 && http_istarts_with(location, "http://")) {
    ok = parse_http_url(location, target);
  } else if (location.empty() || has_scheme(location)) {
    ok = false;
  } else {
    // On this server. An absolute path is taken as it is; anything else goes below the root.
    ok = parse_http_url("http://" + http_host_value(host_, port_) +
                            (location[0] == '/' ? "" : "/") + location,
                        target);
  }
  if (!ok) {
    fail(http_error::kBadRedirect);
    return;
  }
  ++redirect_count_;
  http_request next = request_;
  next.request_uri = target.request_uri;
  next.headers.set("Host", http_host_value(target.host, target.port));
  const std::int32_t id = request_id_;
  reset_request_state();
  const auto alive = alive_;
  if (!send_request(id, next) && *alive && !requesting_) {
    request_id_ = id;
    fail(http_error::kBadRedirect);
  }
}

}  // namespace qv::win32::net
