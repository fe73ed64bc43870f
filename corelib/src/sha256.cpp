#include "qv/sha256.h"

#include <nettle/memops.h>
#include <nettle/sha2.h>

namespace qv {

struct sha256_hasher::state {
  sha256_ctx ctx;
};

sha256_hasher::sha256_hasher() : state_(std::make_unique<state>()) { sha256_init(&state_->ctx); }

sha256_hasher::~sha256_hasher() = default;

void sha256_hasher::update(const void* data, std::size_t size) {
  sha256_update(&state_->ctx, size, static_cast<const std::uint8_t*>(data));
}

sha256_bytes sha256_hasher::digest() {
  sha256_bytes d{};
  sha256_digest(&state_->ctx, d.size(), d.data());  // also starts the context over
  return d;
}

sha256_bytes sha256(const void* data, std::size_t size) {
  sha256_hasher h;
  h.update(data, size);
  return h.digest();
}

bool sha256_equal(const sha256_bytes& a, const sha256_bytes& b) {
  return memeql_sec(a.data(), b.data(), a.size()) != 0;
}

}  // namespace qv
