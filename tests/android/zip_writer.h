// Writes a small zip archive (entries stored, not compressed) for tests that need a package.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace tiv::android::test {

inline std::uint32_t crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// entries: (name with "/" separators, content).
inline bool write_zip(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out, central;
  auto u16 = [](std::string& s, unsigned v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  auto u32 = [&](std::string& s, std::uint32_t v) {
    u16(s, v & 0xFFFF);
    u16(s, v >> 16);
  };
  for (const auto& [name, data] : entries) {
    const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t crc = crc32(data);
    const auto size = static_cast<std::uint32_t>(data.size());
    u32(out, 0x04034b50);
    u16(out, 20), u16(out, 0), u16(out, 0), u16(out, 0), u16(out, 0x21);
    u32(out, crc), u32(out, size), u32(out, size);
    u16(out, static_cast<unsigned>(name.size())), u16(out, 0);
    out += name;
    out += data;
    u32(central, 0x02014b50);
    u16(central, 20), u16(central, 20), u16(central, 0), u16(central, 0), u16(central, 0),
        u16(central, 0x21);
    u32(central, crc), u32(central, size), u32(central, size);
    u16(central, static_cast<unsigned>(name.size())), u16(central, 0), u16(central, 0);
    u16(central, 0), u16(central, 0), u32(central, 0), u32(central, offset);
    central += name;
  }
  const auto central_offset = static_cast<std::uint32_t>(out.size());
  out += central;
  u32(out, 0x06054b50);
  u16(out, 0), u16(out, 0);
  u16(out, static_cast<unsigned>(entries.size())), u16(out, static_cast<unsigned>(entries.size()));
  u32(out, static_cast<std::uint32_t>(central.size())), u32(out, central_offset);
  u16(out, 0);
  std::ofstream f(path, std::ios::binary);
  f << out;
  return static_cast<bool>(f);
}

}  // namespace tiv::android::test
