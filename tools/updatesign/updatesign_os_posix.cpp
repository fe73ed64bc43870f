#include "updatesign_os.h"

#include "qv/text.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace updatesign::os {

std::vector<std::u16string> Arguments(int argc, char** argv) {
  std::vector<std::u16string> out;
  for (int i = 1; i < argc; ++i) out.push_back(qv::text::utf8_to_utf16(argv[i], std::strlen(argv[i])));
  return out;
}

bool RandomBytes(void* out, std::size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = ::getrandom(p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteNewPrivateFile(const std::filesystem::path& file, const std::string& bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  bool ok = true;
  while (ok && left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok) ::unlink(file.c_str());
  return ok;
}

}  // namespace updatesign::os
