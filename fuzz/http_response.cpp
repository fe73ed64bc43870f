// The HTTP response parser fed the same bytes cut in every possible way.
//
// Input: one flag byte (bit 0: the answer to a HEAD request), then the response bytes.
// Property: the outcome (result, status line, headers, decoded body, chunks, trailers, and
// whether a close would complete it) is the same for the whole input, for every split into two
// pieces, and for one byte at a time.
#include "fuzz_check.h"
#include "qv/http_message.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace qv::win32::net;

namespace {

struct outcome {
  std::int32_t result = http_error::kNeedMoreData;
  bool header_done = false;
  bool closes_complete = false;
  std::string version, reason;
  std::int32_t status = 0;
  std::vector<http_header_list::pair> headers, trailers;
  std::vector<std::uint32_t> chunk_sizes;
  std::string body;

  bool operator==(const outcome& o) const {
    return result == o.result && header_done == o.header_done &&
           closes_complete == o.closes_complete && version == o.version && reason == o.reason &&
           status == o.status && headers == o.headers && trailers == o.trailers &&
           chunk_sizes == o.chunk_sizes && body == o.body;
  }
};

// Feeds the pieces until the parser stops asking for more.
outcome Run(const char* data, std::size_t size, const std::vector<std::size_t>& cuts, bool head) {
  http_response_parser parser;
  parser.set_no_body(head);
  http_response response;
  outcome out;
  std::string piece;
  std::size_t from = 0;
  std::vector<std::size_t> ends = cuts;
  ends.push_back(size);
  for (std::size_t end : ends) {
    if (end <= from) continue;
    out.result = parser.parse(data + from, end - from, response, piece);
    out.body += piece;
    from = end;
    if (out.result != http_error::kNeedMoreData) break;
  }
  // A body never exceeds a declared length.
  if (parser.content_length() >= 0 && !parser.chunked())
    FUZZ_CHECK(parser.body_received() <= static_cast<std::uint64_t>(parser.content_length()));
  out.header_done = parser.header_done();
  if (out.result == http_error::kNeedMoreData) out.closes_complete = parser.complete_on_close();
  if (out.header_done) {
    out.version = response.http_version;
    out.reason = response.reason_phrase;
    out.status = response.status_code;
    out.headers = response.headers.pairs();
    out.trailers = response.trailers.pairs();
    for (const auto& c : response.chunks) out.chunk_sizes.push_back(c.size);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 1) return 0;
  const bool head = bytes[0] & 1;
  const char* data = reinterpret_cast<const char*>(bytes + 1);
  size -= 1;
  if (size == 0) return 0;

  const outcome whole = Run(data, size, {}, head);
  // Every split point for inputs of moderate size, evenly spread points beyond.
  const std::size_t step = size <= 1024 ? 1 : size / 256;
  for (std::size_t cut = 1; cut < size; cut += step) {
    if (!(Run(data, size, {cut}, head) == whole)) {
      std::fprintf(stderr, "split at %zu differs\n", cut);
      FUZZ_CHECK(false);
    }
  }
  std::vector<std::size_t> every;
  for (std::size_t i = 1; i < size; ++i) every.push_back(i);
  FUZZ_CHECK(Run(data, size, every, head) == whole);
  return 0;
}
