#include "qv/ed25519.h"

#include <nettle/eddsa.h>

namespace qv::ed25519 {

static_assert(sizeof(public_key) == ED25519_KEY_SIZE && sizeof(private_key) == ED25519_KEY_SIZE &&
              sizeof(signature) == ED25519_SIGNATURE_SIZE);

public_key public_key_of(const private_key& key) {
  public_key pub{};
  ed25519_sha512_public_key(pub.data(), key.data());
  return pub;
}

signature sign(const private_key& key, const void* message, std::size_t size) {
  const public_key pub = public_key_of(key);
  signature sig{};
  ed25519_sha512_sign(pub.data(), key.data(), size, static_cast<const std::uint8_t*>(message),
                      sig.data());
  return sig;
}

bool verify(const public_key& key, const void* message, std::size_t size, const signature& sig) {
  return ed25519_sha512_verify(key.data(), size, static_cast<const std::uint8_t*>(message),
                               sig.data()) != 0;
}

}  // namespace qv::ed25519
