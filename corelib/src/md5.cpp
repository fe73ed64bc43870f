#include "qv/md5.h"

#include "qv/hex.h"

#include <nettle/md5.h>

namespace qv {

md5_bytes md5(const void* data, std::size_t size) {
  md5_ctx ctx;
  md5_init(&ctx);
  // nettle takes a size_t length; feed it as one piece.
  md5_update(&ctx, size, static_cast<const std::uint8_t*>(data));
  md5_bytes d{};
  nettle_md5_digest(&ctx, d.size(), d.data());
  return d;
}

std::string md5_hex(const void* data, std::size_t size) {
  const md5_bytes d = md5(data, size);
  return to_hex(d.data(), d.size());
}

}  // namespace qv
