#include "adb_wire.h"

#include <algorithm>
#include <cstring>

namespace tivorel_help {

std::string hex4(std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i) {
    s[static_cast<std::size_t>(i)] = digits[n & 0xF];
    n >>= 4;
  }
  return s;
}

long parse_hex4(const char* p) {
  long v = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = p[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return -1;
    v = v * 16 + d;
  }
  return v;
}

namespace {

wire_result io_failure(os::io_status s) {
  wire_result r;
  r.status = wire_status::io_error;
  r.message = s == os::io_status::timed_out ? "the ADB server did not answer in time"
              : s == os::io_status::closed  ? "closed"
                                            : "the connection to the ADB server failed";
  return r;
}

}  // namespace

std::unique_ptr<server_connection> server_connection::open(int port, int answer_ms,
                                                           wire_result& result) {
  bool refused = false;
  std::string why;
  auto s = os::connect_loopback(port, kConnectMs, refused, why);
  result = {};
  if (!s) {
    result.status = refused ? wire_status::no_server : wire_status::io_error;
    result.message = why;
    return nullptr;
  }
  return std::unique_ptr<server_connection>(new server_connection(std::move(s), answer_ms));
}

os::io_status server_connection::read_exact(char* buffer, std::size_t size, int timeout_ms) {
  while (size > 0) {
    std::size_t got = 0;
    const os::io_status s = socket_->receive_some(buffer, size, got, timeout_ms);
    if (s != os::io_status::ok) return s;
    buffer += got;
    size -= got;
  }
  return os::io_status::ok;
}

wire_result server_connection::request(const std::string& service) {
  if (service.size() > 0xFFFF) return {wire_status::fail, "request too long"};
  const std::string line = hex4(service.size()) + service;
  const os::io_status s = write_all(line.data(), line.size(), answer_ms_);
  if (s != os::io_status::ok) return io_failure(s);
  return read_status();
}

wire_result server_connection::read_status() {
  char word[4];
  const os::io_status s = read_exact(word, 4, answer_ms_);
  if (s != os::io_status::ok) return io_failure(s);
  if (std::memcmp(word, "OKAY", 4) == 0) return {};
  if (std::memcmp(word, "FAIL", 4) == 0) {
    wire_result r;
    std::string text;
    r = read_hex_string(text);
    if (r.ok()) r = {wire_status::fail, text};
    return r;
  }
  return {wire_status::io_error, "protocol fault: expected OKAY or FAIL, got '" +
                                     std::string(word, 4) + "'"};
}

wire_result server_connection::read_hex_string(std::string& text, bool closed_ok) {
  text.clear();
  char len[4];
  os::io_status s = read_exact(len, 4, answer_ms_);
  if (s == os::io_status::closed && closed_ok) return {};
  if (s != os::io_status::ok) return io_failure(s);
  const long n = parse_hex4(len);
  if (n < 0) return {wire_status::io_error, "protocol fault: bad length"};
  text.resize(static_cast<std::size_t>(n));
  s = read_exact(text.data(), text.size(), answer_ms_);
  if (s != os::io_status::ok) return io_failure(s);
  return {};
}

}  // namespace tivorel_help
