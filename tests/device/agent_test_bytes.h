// Builds agent-to-PC bodies (big-endian) for the codec tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device_test {

struct be {
  std::vector<std::uint8_t> bytes;

  be& u8(std::uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  be& u16(std::uint16_t v) { return put(v, 2); }
  be& u32(std::uint32_t v) { return put(v, 4); }
  be& u64(std::uint64_t v) { return put(v, 8); }
  be& str(const std::string& s) {
    u32(static_cast<std::uint32_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  be& raw(const std::vector<std::uint8_t>& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  // A whole frame around body: code and length, big-endian.
  static std::vector<std::uint8_t> frame(std::uint16_t code, const be& body) {
    be f;
    f.u16(code).u32(static_cast<std::uint32_t>(body.bytes.size())).raw(body.bytes);
    return f.bytes;
  }

 private:
  be& put(std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
};

}  // namespace device_test
