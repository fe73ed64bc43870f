#include "engine_os.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qv_engine::os {
namespace {
std::string native(std::string p) {
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}
}  // namespace

char separator() { return '/'; }

std::string native_path(const std::string& path) { return native(path); }

// The host's rule for its temporary folder (hostbase's GetTempDirectory), which the engine
// cannot call: a folder of this user alone, made with mode 0700 or taken when it is a real folder
// of this user (mode narrowed to 0700), never a link. $TMPDIR/Tivorel-<uid>, else
// $XDG_RUNTIME_DIR/Tivorel, else /tmp/Tivorel-<uid>; "" when none fits.
std::string temp_dir() {
  const std::string uid = std::to_string(geteuid());
  std::vector<std::string> candidates;
  auto base = [](const char* name) {
    const char* v = std::getenv(name);
    std::string b = v ? v : "";
    while (b.size() > 1 && b.back() == '/') b.pop_back();
    return b;
  };
  if (!base("TMPDIR").empty()) candidates.push_back(base("TMPDIR") + "/Tivorel-" + uid);
  if (!base("XDG_RUNTIME_DIR").empty()) candidates.push_back(base("XDG_RUNTIME_DIR") + "/Tivorel");
  candidates.push_back("/tmp/Tivorel-" + uid);
  for (const std::string& c : candidates) {
    if (c.find('\\') != std::string::npos) continue;
    if (mkdir(c.c_str(), 0700) != 0 && errno != EEXIST) continue;
    struct stat st {};
    if (lstat(c.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    if ((st.st_mode & 07777) != 0700) {
      const int fd = open(c.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      struct stat now {};
      const bool narrowed = fd >= 0 && fstat(fd, &now) == 0 && now.st_dev == st.st_dev &&
                            now.st_ino == st.st_ino && fchmod(fd, 0700) == 0;
      if (fd >= 0) close(fd);
      if (!narrowed) continue;
    }
    return c + "/";
  }
  return {};
}

bool read_file(const std::string& path, std::string& out) {
  std::FILE* f = std::fopen(native(path).c_str(), "rb");
  if (!f) return false;
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  out.clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

void append_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(native(path).c_str(), "ab");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

std::vector<std::string> subfolders(const std::string& dir) {
  std::vector<std::string> names;
  std::string d = native(dir);
  DIR* h = opendir(d.c_str());
  if (!h) return names;
  while (dirent* e = readdir(h)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    struct stat st {};
    if (stat((d + "/" + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(n);
  }
  closedir(h);
  return names;
}

}  // namespace qv_engine::os
