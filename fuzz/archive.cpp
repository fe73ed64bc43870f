// Archive extraction into a scratch folder.
//
// Input: one byte choosing the file's extension (and so the reader), then the archive bytes.
// Property: whatever the archive holds, nothing is created outside the destination folder, and
// no link is created inside it.
#include "desktop/archive.h"
#include "fuzz_check.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char* const kExtensions[] = {"zip", "apk", "gpk", "tar", "tgz", "tar.gz", "tar.bz2", "tar.xz",
                                   "7z", "rar", "cab", "iso", "lzh", "cpio"};

struct scratch {
  fs::path outer;  // holds only box/
  fs::path box;    // holds the archive and the destination
  scratch() {
    outer = fs::temp_directory_path() / ("tivorel-fuzz-archive-" + std::to_string(::getpid()));
    box = outer / "box";
  }
  void reset() {
    std::error_code ec;
    fs::remove_all(outer, ec);
    fs::create_directories(box / "cwd");
  }
};

std::u16string u16(const fs::path& p) { return p.u16string(); }

// Every path below root that is not below allowed (and not the archive itself).
void CheckContained(const fs::path& root, const fs::path& box, const fs::path& allowed,
                    const fs::path& archive) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (ec) break;
    const fs::path p = it->path();
    if (p == box || p == archive || p == allowed || p == box / "cwd") continue;
    const fs::path rel = p.lexically_relative(allowed);
    if (rel.empty() || *rel.begin() == "..") {
      std::fprintf(stderr, "written outside the destination: %s\n", p.c_str());
      FUZZ_CHECK(false);
    }
    if (fs::is_symlink(it->symlink_status())) {
      std::fprintf(stderr, "link created: %s\n", p.c_str());
      FUZZ_CHECK(false);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static scratch s;
  if (size < 1) return 0;
  const char* ext = kExtensions[data[0] % (sizeof kExtensions / sizeof kExtensions[0])];
  s.reset();
  const fs::path archive = s.box / (std::string("in.") + ext);
  {
    std::ofstream out(archive, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  // Relative escapes would land in the working folder: make it one that is checked.
  const fs::path old_cwd = fs::current_path();
  fs::current_path(s.box / "cwd");

  const fs::path dest = s.box / "dest";
  (void)desktop::ExtractAll(u16(archive), u16(dest));
  (void)desktop::TotalUnpackedSize(u16(archive));
  (void)desktop::ExtractOne(u16(archive), u"a", u16(dest / "one" / "a"));
  (void)desktop::ExtractOne(u16(archive), u"../a", u16(dest / "two"));

  fs::current_path(old_cwd);
  CheckContained(s.outer, s.box, dest, archive);
  std::error_code ec;
  FUZZ_CHECK(fs::is_empty(s.box / "cwd", ec));
  fs::remove_all(s.outer, ec);
  return 0;
}
