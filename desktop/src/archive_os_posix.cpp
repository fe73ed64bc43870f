#include "archive_os.h"

#include "qv/text.h"
#include "qv/xml.h"

#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace desktop::os {

namespace {

// One UTF-8 character-type locale for the process, created on first use and kept.
locale_t utf8_locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

}  // namespace

ArchiveNameScope::ArchiveNameScope() {
  if (locale_t l = utf8_locale()) saved_ = uselocale(l);
}

ArchiveNameScope::~ArchiveNameScope() {
  if (saved_) uselocale(static_cast<locale_t>(saved_));
}

// Asks for UTF-8; names that cannot be converted keep their raw bytes.
std::u16string ArchiveEntryName(archive_entry* e) {
  const char* p = archive_entry_pathname_utf8(e);
  if (!p) p = archive_entry_pathname(e);
  return p ? qv::xml::from_utf8(p, std::strlen(p)) : std::u16string();
}

namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

int open_folder_at(int dir, const char* name) {
  return ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The folder `parts` below root, opened component by component: O_NOFOLLOW refuses a link at
// every step, so the chain cannot be redirected while it is walked.
bool open_folders(const std::filesystem::path& root, const std::vector<std::u16string>& parts,
                  Fd& out) {
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  out.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (out.get() < 0) return false;
  for (const auto& part : parts) {
    const std::string name = qv::text::utf16_to_utf8(part);
    int next = open_folder_at(out.get(), name.c_str());
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(out.get(), name.c_str(), 0777) != 0 && errno != EEXIST) return false;
      next = open_folder_at(out.get(), name.c_str());
    }
    if (next < 0) return false;
    out.reset(next);
  }
  return true;
}

bool fits_off_t(std::uint64_t v) {
  return v <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

}  // namespace

OutputFile::~OutputFile() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
}

bool OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (!fits_off_t(offset)) return false;
    const ssize_t n = ::pwrite(static_cast<int>(handle_), p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool OutputFile::Extend(std::uint64_t size) {
  return fits_off_t(size) && ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0;
}

bool OutputFile::Close() {
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0;
}

bool MakeFoldersBelow(const std::filesystem::path& root, const std::vector<std::u16string>& parts) {
  Fd dir;
  return open_folders(root, parts, dir);
}

OutputFile CreateFileBelow(const std::filesystem::path& root, const std::vector<std::u16string>& dirs,
                           const std::u16string& name) {
  Fd dir;
  if (name.empty() || !open_folders(root, dirs, dir)) return OutputFile();
  const std::string n = qv::text::utf16_to_utf8(name);
  // Removing the name first means a planted link (or a hard link to someone's file) loses only
  // its own name; O_EXCL then refuses anything planted again in between.
  if (::unlinkat(dir.get(), n.c_str(), 0) != 0 && errno != ENOENT) return OutputFile();
  const int fd = ::openat(dir.get(), n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  return fd < 0 ? OutputFile() : OutputFile(fd);
}

}  // namespace desktop::os
