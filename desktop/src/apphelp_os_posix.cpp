#include "apphelp_os.h"

#include "qv/command_line.h"
#include "qv/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace desktop::os {
namespace {

std::string native(const std::u16string& p) {
  std::string s = qv::text::utf16_to_utf8(p);
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

class fd_guard {
 public:
  explicit fd_guard(int fd) : fd_(fd) {}
  ~fd_guard() {
    if (fd_ >= 0) ::close(fd_);
  }
  fd_guard(const fd_guard&) = delete;
  fd_guard& operator=(const fd_guard&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool write_file_atomic(const std::u16string& target, const std::string& bytes) {
  const std::string path = native(target);
  const std::string tmp = path + ".tmp";
  fd_guard fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) return false;
  const bool written = write_all(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  if (!fd.close() || !written || std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool create_empty_file(const std::u16string& path) {
  fd_guard fd(::open(native(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  return fd.get() >= 0 && fd.close();
}

// rename() replaces the target in one step; the data is made durable first.
bool replace_file(const std::u16string& replacement, const std::u16string& target) {
  const std::string from = native(replacement);
  {
    fd_guard fd(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) return false;
  }
  return std::rename(from.c_str(), native(target).c_str()) == 0;
}

// Renaming onto a missing name is the same step.
bool place_new_file(const std::u16string& source, const std::u16string& target) {
  return replace_file(source, target);
}

bool move_at_restart(const std::u16string&, const std::u16string&) { return false; }

// What Windows answers with its text-statistics test, for the cases that matter to a contact
// file: the first 256 bytes (an even count) are read as UTF-16LE units. Every unit being a
// printable ASCII character or a tab, CR or LF is proof. Otherwise it counts as UTF-16 when at
// least 90% of the units share one high byte below 0x20 (text of one script below U+2000),
// unless some byte is a lead byte of code page 936 (0x81-0xFE): that text may as well be GBK,
// and Windows too rejects UTF-16 whose only evidence is the statistics in that case.
bool looks_like_utf16(const std::string& bytes) {
  const std::size_t n = std::min<std::size_t>(bytes.size(), 256) & ~std::size_t{1};
  if (n < 2) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  bool ascii16 = true;
  std::size_t high_count[0x20] = {};
  for (std::size_t i = 0; i < n; i += 2) {
    const unsigned lo = b[i], hi = b[i + 1];
    if (hi != 0 || !((lo >= 0x20 && lo < 0x7F) || lo == '\t' || lo == '\r' || lo == '\n'))
      ascii16 = false;
    if (hi < 0x20) ++high_count[hi];
  }
  if (ascii16) return true;
  const std::size_t units = n / 2;
  const std::size_t best = *std::max_element(std::begin(high_count), std::end(high_count));
  if (best * 10 < units * 9) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (b[i] >= 0x81 && b[i] <= 0xFE) return false;
  return true;
}

bool local_time(std::tm& out) {
  const std::time_t now = std::time(nullptr);
  return now != static_cast<std::time_t>(-1) && localtime_r(&now, &out) != nullptr;
}

void set_app_icon(void*, int) {}

}  // namespace desktop::os
