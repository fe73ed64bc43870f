// The scrambled container: 4 key bytes, then a zip archive whose every byte at container offset
// i (i >= 4) is XORed with key[i % 4]. The zip holds the document as the entry "my.dt".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::container {

// Largest "my.dt" either side accepts; a declared size above it is refused before allocation.
constexpr std::size_t kMaxScrambledDocumentSize = 64u << 20;

// The bytes of "my.dt" (name compared without regard to case); empty on any failure: short
// input, no zip, no such entry, an oversized or damaged entry (size or CRC mismatch).
std::string ReadScrambledDocument(const std::uint8_t* data, std::size_t size);
inline std::string ReadScrambledDocument(const std::vector<std::uint8_t>& bytes) {
  return ReadScrambledDocument(bytes.data(), bytes.size());
}

// A container holding document as "my.dt" (deflated, fixed time stamp, so the same input and key
// always give the same bytes). Empty when the document is larger than the limit above.
std::vector<std::uint8_t> WriteScrambledDocument(const std::string& document,
                                                 const std::array<std::uint8_t, 4>& key);

}  // namespace qv::container
