#include "hostbase/profile.h"

#include "qv/path.h"
#include "qv/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

namespace hostbase {
namespace {

// Profile files are small; a runaway file is read no further than this.
constexpr std::size_t kMaxProfileBytes = 1u << 20;

// The file's bytes up to the bound; complete is false when the file is longer (or unreadable
// for another reason than being absent).
std::string read_profile(const std::string& native, bool& complete) {
  std::string bytes;
  complete = true;
  std::FILE* f = std::fopen(native.c_str(), "rb");
  if (!f) {
    complete = errno == ENOENT;
    return bytes;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (bytes.size() >= kMaxProfileBytes) {
      complete = false;
      break;
    }
    bytes.append(buf, n);
  }
  if (std::ferror(f)) complete = false;
  std::fclose(f);
  return bytes;
}

// The file a path names in the end: a link is followed to its target (made when missing), as a
// write through a link is on the other target. Empty for a loop or an unreadable link.
std::string final_path(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return std::string();
    target.resize(static_cast<std::size_t>(n));
    if (target[0] != '/') {
      const std::size_t slash = path.find_last_of('/');
      if (slash != std::string::npos) target.insert(0, path, 0, slash + 1);
    }
    path = std::move(target);
  }
  return std::string();
}

// Replaces the file's content whole: a file of a name no one else uses, in the same folder and
// with the file's mode, synced and renamed over it, so that a failed write or a crash leaves
// the old file whole and nothing beside it is written through.
bool replace_file(const std::string& native, const std::string& bytes) {
  const std::string target = final_path(native);
  if (target.empty()) return false;
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  const std::size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = folder + "." + name + "." + std::to_string(::getpid()) + "." +
          std::to_string(counter++) + ".tmp";
    // Never an existing name, never through a link; a new file gets the usual mode (umask).
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return false;
  }
  bool ok = (!exists || ::fchmod(fd, st.st_mode & 07777) == 0) &&
            std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
            std::fflush(f) == 0 && ::fsync(fd) == 0;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  // The rename itself lasts once the folder is synced.
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& def_value, const std::wstring& file,
                               std::size_t max_chars) {
  bool complete = false;
  std::string bytes = read_profile(qv::text::wide_to_utf8(qv::path::to_native(file)), complete);
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return ParseProfileString(qv::text::utf8_to_wide(bytes), section, key, def_value, max_chars);
}

bool WriteProfileEntry(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& file) {
  if (file.empty()) return false;
  const std::string native = qv::text::wide_to_utf8(qv::path::to_native(file));
  bool complete = false;
  std::string bytes = read_profile(native, complete);
  // Rewriting a file that was only partly read would lose its tail.
  if (!complete) return false;
  const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (bom) bytes.erase(0, 3);
  std::string out = qv::text::wide_to_utf8(
      SetProfileString(qv::text::utf8_to_wide(bytes), section, key, value));
  if (bom) out.insert(0, "\xEF\xBB\xBF");
  return replace_file(native, out);
}

}  // namespace hostbase
