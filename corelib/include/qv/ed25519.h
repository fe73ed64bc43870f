// Ed25519 signatures (RFC 8032), made and checked by nettle on every target.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qv::ed25519 {

using public_key = std::array<std::uint8_t, 32>;
// The 32-byte secret seed of RFC 8032 (any 32 random bytes are a key).
using private_key = std::array<std::uint8_t, 32>;
using signature = std::array<std::uint8_t, 64>;

public_key public_key_of(const private_key& key);

signature sign(const private_key& key, const void* message, std::size_t size);

// True only when sig is key's signature of exactly these bytes.
bool verify(const public_key& key, const void* message, std::size_t size, const signature& sig);

}  // namespace qv::ed25519
