// SHA-256 digests (FIPS 180-4), computed by nettle on every target.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qv {

using sha256_bytes = std::array<std::uint8_t, 32>;

// A digest fed piece by piece (a file read in blocks).
class sha256_hasher {
 public:
  sha256_hasher();
  ~sha256_hasher();
  sha256_hasher(const sha256_hasher&) = delete;
  sha256_hasher& operator=(const sha256_hasher&) = delete;

  void update(const void* data, std::size_t size);
  // The digest of everything fed so far; the hasher then starts over.
  sha256_bytes digest();

 private:
  struct state;
  std::unique_ptr<state> state_;
};

sha256_bytes sha256(const void* data, std::size_t size);
inline sha256_bytes sha256(const std::string& bytes) { return sha256(bytes.data(), bytes.size()); }

// Compares in a time that does not depend on where the digests differ.
bool sha256_equal(const sha256_bytes& a, const sha256_bytes& b);

}  // namespace qv
