// HTTP/1.1 message records and the incremental response parser used by the asynchronous client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace qv::win32::net {

// Error numbers of the HTTP client (besides them, socket error numbers pass through unchanged).
namespace http_error {
constexpr std::int32_t kNoData = 20100001;            // the parser was given nothing
constexpr std::int32_t kDataAfterComplete = 20100013;  // bytes after the message ended
constexpr std::int32_t kNeedMoreData = 20100018;       // parser internal, never reported
constexpr std::int32_t kBadFraming = 25000021;         // oversized blocks, bad chunk framing
constexpr std::int32_t kConnectionClosed = 26000001;   // closed before the response was complete
constexpr std::int32_t kTooManyRedirects = 26000002;
constexpr std::int32_t kBadRedirect = 26000003;
constexpr std::int32_t kBadHeader = 26000004;          // status line or header fields
constexpr std::int32_t kBadChunkSize = 26000007;
}  // namespace http_error

// The limit for a trailer block and a chunk-size line.
constexpr std::size_t kHttpBlockLimit = 8192;
// The limit for a response's header block, blank line included. Servers do send header blocks
// past 8 KiB (long Set-Cookie values), so a complete block up to this size is read; a block still
// unterminated at this size is refused, which bounds what is buffered. One limit for both keeps
// the result independent of how the network cut the bytes.
constexpr std::size_t kHttpHeaderBlockLimit = 64 * 1024;

// Ordered (name, value) pairs; names compare exactly.
class http_header_list {
 public:
  using pair = std::pair<std::string, std::string>;

  // The value of the first pair with that name, or "".
  std::string find(const std::string& name) const;
  bool contains(const std::string& name) const;
  // Appends when absent (an empty value too); replaces the first value when present, where an
  // empty value removes that pair instead.
  void set(const std::string& name, const std::string& value);
  void append(pair p) { pairs_.push_back(std::move(p)); }
  // "name: value\r\n" per pair, then "\r\n".
  void write(std::ostream& out) const;
  void write(std::string& out) const;

  void clear() { pairs_.clear(); }
  bool empty() const { return pairs_.empty(); }
  std::size_t size() const { return pairs_.size(); }
  const std::vector<pair>& pairs() const { return pairs_; }
  auto begin() const { return pairs_.begin(); }
  auto end() const { return pairs_.end(); }

 private:
  std::vector<pair> pairs_;
};

struct http_request {
  std::string method = "GET";
  std::string request_uri = "/";
  std::string http_version = "HTTP/1.1";
  http_header_list headers;
  std::string body;

  // Request line, a Content-Length line when the body needs one, the headers, the body.
  std::string serialize() const;
};

struct http_chunk {
  std::uint32_t size = 0;
  http_header_list extensions;
};

struct http_response {
  std::string http_version = "HTTP/1.1";
  std::int32_t status_code = 200;
  std::string reason_phrase = "OK";
  http_header_list headers;
  std::string body;
  std::vector<http_chunk> chunks;
  http_header_list trailers;
};

// The standard phrase for a status code, "" for codes it does not know.
const char* http_reason_phrase(std::int32_t status_code);

// Case-insensitive ASCII comparison.
bool http_iequals(const std::string& a, const std::string& b);
bool http_istarts_with(const std::string& text, const std::string& prefix);

// The parts of an "http://" URL. False when the URL is not "http://" with a non-empty host and a
// port in 1..65535.
struct http_url {
  std::string host;
  std::uint16_t port = 80;
  std::string request_uri = "/";
};
bool parse_http_url(const std::string& url, http_url& out);
// "host" or "host:port" (the port only when it is not 80).
std::string http_host_value(const std::string& host, std::uint16_t port);

// Parses one response as its bytes arrive, in pieces of any size. The decoded body comes out
// piece by piece; nothing of the body is kept, so memory stays bounded by the framing limits.
class http_response_parser {
 public:
  // Feeds bytes. Returns 0 when the message is complete, kNeedMoreData when more is expected, or
  // an error number. `piece` receives the body bytes decoded from these bytes (may be empty even
  // on success). After an error the parser must not be fed again.
  std::int32_t parse(const char* data, std::size_t size, http_response& response,
                     std::string& piece);

  // The answer to a HEAD request carries no body, whatever its length headers say.
  void set_no_body(bool v) { no_body_ = v; }

  bool header_done() const { return header_done_; }
  bool complete() const { return complete_; }
  bool chunked() const { return chunked_; }
  std::int64_t content_length() const { return content_length_; }
  std::uint64_t body_received() const { return body_received_; }
  // Marks a close-delimited body (no length, not chunked) as complete; false when that does not
  // apply to this message.
  bool complete_on_close();

 private:
  std::int32_t parse_header(http_response& response);
  std::int32_t decode_chunks(http_response& response, std::string& piece);
  void take_identity(const char* data, std::size_t size, std::string& piece);

  std::string buffer_;
  std::size_t searched_ = 0;  // bytes of buffer_ known to hold no blank line
  bool header_done_ = false;
  bool complete_ = false;
  bool chunked_ = false;
  bool no_body_ = false;
  std::int64_t content_length_ = -1;
  std::uint64_t body_received_ = 0;
  // Chunk decoder state.
  std::string chunk_buffer_;
  std::uint32_t chunk_size_ = 0;
  std::uint32_t chunk_taken_ = 0;
  bool last_chunk_seen_ = false;
  bool trailers_done_ = false;
};

}  // namespace qv::win32::net
