#include "desktop/app_update.h"

#include "apphelp_os.h"
#include "desktop/archive.h"
#include "desktop/log.h"
#include "file_util.h"

#include "qv/xml.h"

#include <filesystem>
#include <map>
#include <vector>

namespace fs = std::filesystem;
using qv::xml::element_ptr;

namespace desktop {
namespace {

std::string u8(const std::u16string& s) { return qv::xml::to_utf8(s); }

// A path inside the installation: relative, no drive, no ".." component in either separator.
bool stays_inside(const std::u16string& p) {
  if (p.empty() || p[0] == u'\\' || p[0] == u'/') return false;
  if (p.find(u':') != std::u16string::npos) return false;
  std::size_t start = 0;
  while (start <= p.size()) {
    std::size_t end = p.find_first_of(u"\\/", start);
    if (end == std::u16string::npos) end = p.size();
    if (p.compare(start, end - start, u"..") == 0) return false;
    start = end + 1;
  }
  return true;
}

bool copy_over(const std::u16string& from, const std::u16string& to) {
  std::error_code ec;
  fs::copy_file(NativePath(from), NativePath(to), fs::copy_options::overwrite_existing, ec);
  return !ec;
}

void install_one(const std::u16string& source, const std::u16string& target) {
  std::error_code ec;
  const fs::path native_target = NativePath(target);
  if (fs::exists(native_target, ec)) {
    const std::u16string tmp = target + u".tmp";
    if (!copy_over(source, tmp)) {
      LogLine("update: cannot copy " + u8(source) + " to " + u8(tmp));
      return;
    }
    if (os::replace_file(tmp, target)) return;
    if (!os::move_at_restart(tmp, target))
      LogLine("update: cannot replace " + u8(target) + " now or at the next restart");
    return;
  }
  // A new file too is copied beside its place and moved in whole: a process killed in the
  // middle of the copy must not leave a part of it in the installation.
  fs::create_directories(native_target.parent_path(), ec);
  const std::u16string tmp = target + u".tmp";
  if (!copy_over(source, tmp) || !os::place_new_file(tmp, target)) {
    LogLine("update: cannot copy " + u8(source) + " to " + u8(target));
    fs::remove(NativePath(tmp), ec);
  }
}

}  // namespace

bool InstallUpdate(const std::u16string& archive, const std::u16string& temp_dir,
                   const std::u16string& install_dir_text) {
  const std::u16string update_dir = WithSeparator(temp_dir) + u"Update\\";
  const std::u16string install_dir = WithSeparator(install_dir_text);
  if (temp_dir.empty() || install_dir.empty()) return false;
  // What an earlier update left in the staging folder must never be taken for this one's.
  // remove_all takes links away without following them.
  std::error_code ec;
  const fs::path staging = NativePath(update_dir);
  fs::remove_all(staging, ec);
  if (ec || !fs::create_directories(staging, ec)) {
    LogLine("update: cannot empty the staging folder " + u8(update_dir));
    return false;
  }
  if (!ExtractAll(archive, update_dir)) {
    LogLine("update: " + u8(archive) + " could not be extracted whole; nothing was installed");
    return false;
  }

  qv::xml::basic_xml_dom_parser parser;
  if (!parser.parse_file(NativePath(update_dir + u"updatelist.xml")) || !parser.root()) {
    LogLine("update: no readable updatelist.xml in " + u8(archive));
    return false;
  }
  const element_ptr root = parser.root();

  std::vector<std::u16string> deletions;
  if (element_ptr list = root->child(u"DeleteFileList")) {
    for (std::size_t i = 0; i < list->child_count(); ++i) {
      const auto* dest = list->child(i)->attribute(u"dest");
      if (!dest) continue;
      if (!stays_inside(*dest)) {
        LogLine("update: skipped deletion outside the installation: " + u8(*dest));
        continue;
      }
      deletions.push_back(*dest);
    }
  }

  std::map<std::u16string, std::u16string> copies;  // ascending src, a later src wins
  if (element_ptr list = root->child(u"FileList")) {
    for (std::size_t i = 0; i < list->child_count(); ++i) {
      const element_ptr item = list->child(i);
      const auto* src = item->attribute(u"src");
      const auto* dest = item->attribute(u"dest");
      if (!src || !dest) continue;
      if (!stays_inside(*src) || !stays_inside(*dest)) {
        LogLine("update: skipped copy outside the installation: " + u8(*src) + " -> " + u8(*dest));
        continue;
      }
      copies[*src] = *dest;
    }
  }
  // A package that lacks a file it lists is incomplete: nothing of it is installed.
  for (const auto& copy : copies) {
    if (!fs::is_regular_file(fs::symlink_status(NativePath(update_dir + copy.first), ec))) {
      LogLine("update: " + u8(archive) + " lacks the listed file " + u8(copy.first) +
              "; nothing was installed");
      return false;
    }
  }

  for (const auto& dest : deletions) fs::remove(NativePath(install_dir + dest), ec);
  for (const auto& [src, dest] : copies) install_one(update_dir + src, install_dir + dest);
  return true;
}

}  // namespace desktop
