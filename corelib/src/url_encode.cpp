#include "qv/url_encode.h"

#include <cstring>

namespace qv::text {

std::string url_encode(const std::string& bytes, url_keep keep) {
  static const char kHex[] = "0123456789ABCDEF";
  const char* const extra = keep == url_keep::path_text ? "/." : "-._~";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool kept = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                      (u != 0 && std::strchr(extra, c) != nullptr);
    if (kept) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 0x0F]);
    }
  }
  return out;
}

}  // namespace qv::text
