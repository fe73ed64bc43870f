#include "engine_os.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string temp_dir() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = t && *t ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  dir += "Tivorel/";
  mkdir(dir.c_str(), 0700);
  return dir;
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
