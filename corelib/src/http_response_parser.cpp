#include "qv/http_message.h"

#include <algorithm>
#include <limits>

namespace qv::win32::net {

namespace {

using namespace http_error;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string trim(const std::string& s, char what) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == what) ++b;
  while (e > b && s[e - 1] == what) --e;
  return s.substr(b, e - b);
}

bool has_line_break(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Header lines "name: value\r\n" between begin and end (every line ends with CRLF). Exactly one
// space after the colon, name and value non-empty; anything else fails the whole list.
bool parse_fields(const std::string& text, std::size_t begin, std::size_t end,
                  http_header_list& out) {
  while (begin < end) {
    const std::size_t eol = text.find("\r\n", begin);
    if (eol == std::string::npos || eol + 2 > end) return false;
    const std::string line = text.substr(begin, eol - begin);
    begin = eol + 2;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    if (colon + 1 >= line.size() || line[colon + 1] != ' ') return false;
    std::string name = line.substr(0, colon);
    std::string value = line.substr(colon + 2);
    if (value.empty() || value[0] == ' ' || has_line_break(name) || has_line_break(value))
      return false;
    out.append({std::move(name), std::move(value)});
  }
  return true;
}

// A header's value by name compared without case: framing must not depend on the server's
// spelling of the name, nor on the text appearing inside some other header.
const std::string* find_framing_header(const http_header_list& headers, const char* name) {
  for (const auto& p : headers)
    if (http_iequals(p.first, name)) return &p.second;
  return nullptr;
}

bool parse_decimal64(const std::string& s, std::int64_t& out) {
  if (s.empty()) return false;
  std::int64_t v = 0;
  for (char c : s) {
    if (!is_digit(c)) return false;
    const int d = c - '0';
    if (v > (std::numeric_limits<std::int64_t>::max() - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

void parse_chunk_extensions(const std::string& line, http_chunk& chunk) {
  std::size_t semi = line.find(';');
  while (semi != std::string::npos) {
    const std::size_t next = line.find(';', semi + 1);
    const std::string item =
        line.substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1);
    semi = next;
    const std::size_t eq = item.find('=');
    std::string name, value;
    if (eq == std::string::npos) {
      name = trim(item, ' ');
    } else {
      name = trim(item.substr(0, eq), ' ');
      value = trim(trim(item.substr(eq + 1), ' '), '"');
    }
    if (!name.empty()) chunk.extensions.append({std::move(name), std::move(value)});
  }
}

}  // namespace

bool http_response_parser::complete_on_close() {
  if (!header_done_ || chunked_ || complete_ || content_length_ != -1) return false;
  complete_ = true;
  return true;
}

std::int32_t http_response_parser::parse(const char* data, std::size_t size,
                                         http_response& response, std::string& piece) {
  piece.clear();
  if (data == nullptr || size == 0) return kNoData;
  if (header_done_ && complete_) return kDataAfterComplete;

  if (!header_done_) {
    buffer_.append(data, size);
    const std::int32_t r = parse_header(response);
    if (r != 0) return r;
    if (complete_) return 0;
    // What followed the header block is the start of the body.
    std::string rest;
    rest.swap(buffer_);
    if (chunked_) {
      chunk_buffer_ = std::move(rest);
      const std::int32_t c = decode_chunks(response, piece);
      return c != 0 ? c : (complete_ ? 0 : kNeedMoreData);
    }
    take_identity(rest.data(), rest.size(), piece);
    return complete_ ? 0 : kNeedMoreData;
  }

  if (chunked_) {
    chunk_buffer_.append(data, size);
    const std::int32_t c = decode_chunks(response, piece);
    return c != 0 ? c : (complete_ ? 0 : kNeedMoreData);
  }

  take_identity(data, size, piece);
  return complete_ ? 0 : kNeedMoreData;
}

// Identity body: straight from the input, never more than the declared length.
void http_response_parser::take_identity(const char* data, std::size_t size, std::string& piece) {
  std::size_t take = size;
  if (content_length_ >= 0) {
    const std::uint64_t left = static_cast<std::uint64_t>(content_length_) - body_received_;
    if (left < take) take = static_cast<std::size_t>(left);
  }
  piece.assign(data, take);
  body_received_ += take;
  if (content_length_ >= 0 && body_received_ >= static_cast<std::uint64_t>(content_length_))
    complete_ = true;
}

std::int32_t http_response_parser::parse_header(http_response& response) {
  // Search only what is new (less the three bytes a blank line may straddle): small pieces must
  // not make the search quadratic.
  const std::size_t from = searched_ > 3 ? searched_ - 3 : 0;
  const std::size_t end = buffer_.find("\r\n\r\n", from);
  if (end == std::string::npos) {
    searched_ = buffer_.size();
    return buffer_.size() >= kHttpHeaderBlockLimit ? kBadFraming : kNeedMoreData;
  }
  const std::size_t block_size = end + 4;
  if (block_size > kHttpHeaderBlockLimit) return kBadFraming;

  // Status line: version SP code SP reason.
  const std::size_t eol = buffer_.find("\r\n");
  const std::string status = buffer_.substr(0, eol);
  const std::size_t sp1 = status.find(' ');
  if (sp1 == std::string::npos || sp1 == 0) return kBadHeader;
  const std::size_t sp2 = status.find(' ', sp1 + 1);
  if (sp2 == std::string::npos) return kBadHeader;
  const std::string code_text = status.substr(sp1 + 1, sp2 - sp1 - 1);
  std::int64_t code = 0;
  if (code_text.size() > 9 || !parse_decimal64(code_text, code) || code == 0) return kBadHeader;
  const std::string reason = status.substr(sp2 + 1);
  if (reason.empty() || has_line_break(reason)) return kBadHeader;

  http_header_list headers;
  if (!parse_fields(buffer_, eol + 2, end + 2, headers)) return kBadHeader;

  std::int64_t length = -1;
  if (no_body_ || code == 204 || code == 205 || code == 304) {
    length = 0;
  } else if (const std::string* cl = find_framing_header(headers, "Content-Length")) {
    if (!parse_decimal64(*cl, length)) return kBadHeader;
  }
  const std::string* te = find_framing_header(headers, "Transfer-Encoding");
  chunked_ = te != nullptr && te->size() >= 7 && http_istarts_with(*te, "chunked");

  response.http_version = status.substr(0, sp1);
  response.status_code = static_cast<std::int32_t>(code);
  response.reason_phrase = reason;
  response.headers = std::move(headers);

  header_done_ = true;
  content_length_ = length;
  body_received_ = 0;
  buffer_.erase(0, block_size);
  if (content_length_ == 0) complete_ = true;
  return 0;
}

std::int32_t http_response_parser::decode_chunks(http_response& response, std::string& piece) {
  std::string& buf = chunk_buffer_;
  std::size_t pos = 0;
  while (pos < buf.size() && !last_chunk_seen_) {
    if (chunk_size_ != 0) {
      if (chunk_taken_ < chunk_size_) {
        const std::size_t n =
            std::min<std::size_t>(buf.size() - pos, chunk_size_ - chunk_taken_);
        piece.append(buf, pos, n);
        pos += n;
        chunk_taken_ += static_cast<std::uint32_t>(n);
        if (chunk_taken_ < chunk_size_) break;
      }
      const std::size_t avail = buf.size() - pos;
      if (avail == 0) break;
      if (avail == 1) {
        if (buf[pos] != '\r') return kBadFraming;
        break;
      }
      if (buf[pos] != '\r' || buf[pos + 1] != '\n') return kBadFraming;
      pos += 2;
      chunk_size_ = chunk_taken_ = 0;
      continue;
    }
    // Chunk-size line.
    const std::size_t crlf = buf.find("\r\n", pos);
    if (crlf == std::string::npos) {
      // The shortest the line can still turn out to be decides, so the result does not depend
      // on how the bytes were split.
      const std::size_t shortest = buf.back() == '\r' ? buf.size() - 1 - pos : buf.size() - pos;
      if (shortest >= kHttpBlockLimit) return kBadFraming;
      break;
    }
    if (crlf - pos >= kHttpBlockLimit) return kBadFraming;
    std::size_t i = pos;
    while (i < crlf && (buf[i] == ' ' || buf[i] == '\t')) ++i;
    std::uint64_t size = 0;
    const std::size_t digits_start = i;
    for (; i < crlf && hex_value(buf[i]) >= 0; ++i) {
      size = size * 16 + static_cast<std::uint64_t>(hex_value(buf[i]));
      if (size > std::numeric_limits<std::uint32_t>::max()) return kBadChunkSize;
    }
    if (i == digits_start) return kBadChunkSize;
    const std::string line = buf.substr(pos, crlf - pos);
    pos = crlf + 2;
    if (size == 0) {
      last_chunk_seen_ = true;
      break;
    }
    http_chunk chunk;
    chunk.size = static_cast<std::uint32_t>(size);
    parse_chunk_extensions(line, chunk);
    response.chunks.push_back(std::move(chunk));
    chunk_size_ = static_cast<std::uint32_t>(size);
    chunk_taken_ = 0;
  }

  std::int32_t result = 0;
  if (last_chunk_seen_ && !trailers_done_) {
    const std::size_t avail = buf.size() - pos;
    if (avail >= 2 && buf[pos] == '\r' && buf[pos + 1] == '\n') {
      pos += 2;
      trailers_done_ = true;
    } else if (avail >= 2) {
      const std::size_t end = buf.find("\r\n\r\n", pos);
      if (end == std::string::npos) {
        if (avail >= kHttpBlockLimit) result = kBadFraming;
      } else if (end + 4 - pos > kHttpBlockLimit) {
        result = kBadFraming;
      } else {
        http_header_list trailers;
        if (!parse_fields(buf, pos, end + 2, trailers)) {
          result = kBadFraming;
        } else {
          for (const auto& p : trailers) response.trailers.append(p);
          pos = end + 4;
          trailers_done_ = true;
        }
      }
    }
  }
  buf.erase(0, pos);
  if (result != 0) return result;
  if (trailers_done_) complete_ = true;
  return 0;
}

}  // namespace qv::win32::net
