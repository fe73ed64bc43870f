// Reply and notification frames from the agent, cut by the frame extractor from a stream that
// arrives in pieces, then decoded with the code of the request that is waiting for them.
//
// Input: request code (2 bytes), piece-size seed (1 byte), then the stream.
// Properties: the frames do not depend on how the stream was cut; decoding never crashes.
#include "device/agent_protocol.h"
#include "fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

using namespace device;

namespace {

using frame = std::tuple<std::uint16_t, std::string>;

// Feeds the stream the way a connection does: the unconsumed tail stays buffered and the next
// piece is appended to it.
std::vector<frame> Extract(const std::uint8_t* data, std::size_t size, std::size_t piece,
                           frame_extractor::result& last) {
  std::vector<frame> frames;
  frame_extractor x;
  std::vector<std::uint8_t> buffer;
  last = frame_extractor::result::ok;
  for (std::size_t at = 0; at < size; at += piece) {
    const std::size_t n = std::min(piece, size - at);
    buffer.insert(buffer.end(), data + at, data + at + n);
    std::uint32_t consumed = 0;
    last = x.extract(buffer.data(), static_cast<std::uint32_t>(buffer.size()), consumed,
                     [&](std::uint16_t code, const std::uint8_t* body, std::uint32_t length) {
                       frames.emplace_back(code, std::string(reinterpret_cast<const char*>(body), length));
                       return true;
                     });
    FUZZ_CHECK(consumed <= buffer.size());
    buffer.erase(buffer.begin(), buffer.begin() + consumed);
    if (last == frame_extractor::result::oversized) break;
  }
  return frames;
}

void Decode(std::uint16_t code, const std::string& body) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(body.data());
  const auto size = static_cast<std::uint32_t>(body.size());
  const decoded_reply r = decode_reply(code, p, size, "serial-1");
  FUZZ_CHECK(r.listed == (reply_kind_of(code) != reply_kind::unlisted));
  if (!r.listed) FUZZ_CHECK(!r.deliver && !r.final && r.args.empty());
  agent_values args;
  if (decode_notification(code, p, size, "serial-1", args)) FUZZ_CHECK(args.size() >= 2);
  for (const auto& a : r.args) (void)a.debug_string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint16_t request_code = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
  const std::size_t piece = 1 + data[2] % 17;
  data += 3;
  size -= 3;

  frame_extractor::result whole_result, cut_result;
  const std::vector<frame> whole = Extract(data, size, size ? size : 1, whole_result);
  const std::vector<frame> cut = Extract(data, size, piece, cut_result);
  FUZZ_CHECK(whole == cut);
  FUZZ_CHECK(whole_result == cut_result);

  for (const auto& [code, body] : whole) {
    // The reply as the agent labelled it, and as the waiting request's code reads it.
    Decode(code, body);
    Decode(request_code, body);
  }
  // Any body prefix is a valid short frame too.
  if (!whole.empty()) {
    const std::string& body = std::get<1>(whole.front());
    for (std::size_t n = 0; n < body.size() && n < 64; ++n) Decode(request_code, body.substr(0, n));
  }
  return 0;
}
