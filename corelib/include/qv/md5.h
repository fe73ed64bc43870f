// MD5 digests (RFC 1321), computed by nettle on every target.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

using md5_bytes = std::array<std::uint8_t, 16>;

md5_bytes md5(const void* data, std::size_t size);
inline md5_bytes md5(const std::string& bytes) { return md5(bytes.data(), bytes.size()); }

// The digest as 32 lowercase hexadecimal digits.
std::string md5_hex(const void* data, std::size_t size);
inline std::string md5_hex(const std::string& bytes) { return md5_hex(bytes.data(), bytes.size()); }

}  // namespace qv
