// Request framing: arguments as the Lua code passes them become a little-endian frame.
// Property: the header tells the low 16 bits of the code and the true body length, and the body
// holds exactly the encodable arguments in order.
#include "device/agent_protocol.h"
#include "fuzz_check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace device;

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::int64_t code = in.ConsumeIntegral<std::int64_t>();
  std::vector<request_argument> args;
  while (in.remaining_bytes() > 0 && args.size() < 64) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
      case 0: args.push_back(request_argument::make_boolean(in.ConsumeBool())); break;
      case 1: args.push_back(request_argument::make_number(in.ConsumeFloatingPoint<double>())); break;
      case 2: args.push_back(request_argument::make_number(static_cast<double>(in.ConsumeIntegral<std::int64_t>()))); break;
      case 3: args.push_back(request_argument::make_string(in.ConsumeRandomLengthString(256))); break;
      default: args.push_back(request_argument::make_other()); break;
    }
  }

  const std::vector<std::uint8_t> frame = build_request_frame(code, args);
  FUZZ_CHECK(frame.size() >= 6);
  FUZZ_CHECK((frame[0] | (frame[1] << 8)) == (static_cast<std::uint64_t>(code) & 0xFFFF));
  FUZZ_CHECK(Le32(&frame[2]) == frame.size() - 6);

  std::size_t at = 6;
  for (const auto& a : args) {
    switch (a.type) {
      case request_argument::kind::boolean:
        FUZZ_CHECK(at + 4 <= frame.size());
        FUZZ_CHECK(Le32(&frame[at]) == (a.boolean ? 1u : 0u));
        at += 4;
        break;
      case request_argument::kind::number: {
        const double d = a.number;
        if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || std::trunc(d) != d) break;
        FUZZ_CHECK(at + 4 <= frame.size());
        FUZZ_CHECK(Le32(&frame[at]) == static_cast<std::uint32_t>(static_cast<std::int64_t>(d)));
        at += 4;
        break;
      }
      case request_argument::kind::string: {
        const std::string s = a.text.substr(0, a.text.find('\0'));
        FUZZ_CHECK(at + 4 + s.size() <= frame.size());
        FUZZ_CHECK(Le32(&frame[at]) == s.size());
        FUZZ_CHECK(std::string(frame.begin() + at + 4, frame.begin() + at + 4 + s.size()) == s);
        at += 4 + s.size();
        break;
      }
      case request_argument::kind::other:
        break;
    }
  }
  FUZZ_CHECK(at == frame.size());
  return 0;
}
