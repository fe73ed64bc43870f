#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "qv/codepage.h"

namespace qv::codepage {
namespace {

// One iconv conversion descriptor, closed on every path.
class converter {
 public:
  converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~converter() {
    if (ok()) iconv_close(cd_);
  }
  converter(const converter&) = delete;
  converter& operator=(const converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts the whole input; at a sequence that cannot be converted, `bad` is appended to the
  // output and `skip` input bytes are passed over.
  std::string run(std::string in, const std::string& bad, std::size_t skip) {
    std::string out;
    char* src = in.data();
    std::size_t src_left = in.size();
    char buf[256];
    while (src_left > 0) {
      char* dst = buf;
      std::size_t dst_left = sizeof buf;
      const std::size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buf, static_cast<std::size_t>(dst - buf));
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      out += bad;
      const std::size_t n = src_left >= skip ? skip : src_left;
      src += n;
      src_left -= n;
    }
    char* dst = buf;
    std::size_t dst_left = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string utf16_to_cp936(std::u16string_view s) {
  if (s.empty()) return {};
  converter c("CP936", "UTF-16LE");
  if (!c.ok()) return {};
  // Little-endian bytes, whatever the host order is.
  std::string in;
  in.reserve(s.size() * 2);
  for (char16_t u : s) {
    in.push_back(static_cast<char>(u & 0xFF));
    in.push_back(static_cast<char>(u >> 8));
  }
  // Not expressible (or a broken surrogate pair): one "?" for the unit, as Windows does.
  return c.run(std::move(in), "?", 2);
}

std::u16string cp936_to_utf16(std::string_view s) {
  std::u16string out;
  if (s.empty()) return out;
  converter c("UTF-16LE", "CP936");
  if (!c.ok()) return out;
  const std::string bytes = c.run(std::string(s), std::string("\xFD\xFF", 2), 1);
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return out;
}

}  // namespace qv::codepage
