#include "qv/hex.h"

#include <cstdint>

namespace qv {

std::string to_hex(const void* data, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::string s;
  s.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    s.push_back(kHex[p[i] >> 4]);
    s.push_back(kHex[p[i] & 15]);
  }
  return s;
}

namespace {

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool from_hex(std::string_view text, void* out, std::size_t size) {
  if (text.size() != size * 2) return false;
  auto* p = static_cast<std::uint8_t*>(out);
  for (std::size_t i = 0; i < size; ++i) {
    const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    p[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return true;
}

}  // namespace qv
