#include "desktop/install_dir.h"

#include "desktop/log.h"
#include "file_util.h"

#include "qv/path.h"
#include "qv/scrambled_container.h"
#include "qv/text.h"
#include "qv/xml.h"

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;
using qv::xml::element_ptr;

namespace desktop {
namespace {

constexpr std::size_t kMaxContainerSize = 16u << 20;

std::u16string lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

// The name of the one subfolder of dir (not a link); empty when there is none or there are
// several, and when the name cannot be written as Windows path text (POSIX: it holds "\"), since
// the paths made of it would name another folder.
std::u16string single_subfolder(const std::u16string& dir) {
  std::vector<std::u16string> out;
  std::error_code ec;
  for (fs::directory_iterator it(NativePath(dir), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_directory(type_ec) && !it->is_symlink(type_ec)) out.push_back(it->path().filename().u16string());
  }
  if (out.size() != 1) return {};
  if (!qv::path::has_windows_text(qv::text::utf16_to_wide(out[0]))) {
    LogLine("GetInstallDir: left out " + qv::text::utf16_to_utf8(out[0]) +
            ": the name holds \"\\\", which a path of the UI separates at");
    return {};
  }
  return out[0];
}

std::u16string trimmed_dir(std::u16string dir) {
  while (!dir.empty() && (dir.back() == u'\\' || dir.back() == u'/')) dir.pop_back();
  return dir;
}

void collect(const element_ptr& e, std::map<std::u16string, std::u16string>& table) {
  const auto* com = e->attribute(u"com");
  const auto* dir = e->attribute(u"dir");
  if (com && dir) table.emplace(*com, *dir);
  for (std::size_t i = 0; i < e->child_count(); ++i) collect(e->child(i), table);
}

// The rule of the destinations table: exactly one subfolder, looked up by name (else "other").
InstallTarget by_table(const std::u16string& extracted, PackageDestinations& destinations) {
  const std::u16string sub = single_subfolder(extracted);
  if (sub.empty()) return {};
  const std::u16string dir = destinations.Lookup(sub);
  if (dir.empty()) return {};
  return {trimmed_dir(extracted) + u"\\" + sub, dir + sub};
}

// A manifest's folder name must name a folder inside the extracted package: a name such as
// "..\\..\\Users" would have the package's data read from anywhere on the computer.
bool plain_folder_name(const std::u16string& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  return name.find_first_of(u"\\/:") == std::u16string::npos;
}

InstallTarget from_manifest(const std::u16string& extracted, PackageDestinations& destinations) {
  qv::xml::basic_xml_dom_parser parser;
  if (parser.parse_file(NativePath(trimmed_dir(extracted) + u"\\manifest.xml")) && parser.root()) {
    element_ptr data, destination;
    qv::xml::select(parser.root(), u"/xpk/data", data);
    qv::xml::select(parser.root(), u"/xpk/data/destination", destination);
    const auto* name = data ? data->attribute(u"name") : nullptr;
    if (name && !name->empty() && destination && !destination->text().empty()) {
      if (!plain_folder_name(*name)) {
        LogLine("GetInstallDir: the manifest names \"" + qv::text::utf16_to_utf8(*name) +
                "\", which is not a folder of the package");
        return {};
      }
      return {trimmed_dir(extracted) + u"\\" + *name, destination->text()};
    }
  }
  return by_table(extracted, destinations);
}

}  // namespace

void PackageDestinations::Load() {
  if (loaded_) return;
  loaded_ = true;
  table_.clear();
  auto bytes = ReadWholeFile(file_, kMaxContainerSize);
  if (!bytes) return;
  const std::string doc = qv::container::ReadScrambledDocument(
      reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
  qv::xml::basic_xml_dom_parser parser;
  if (doc.empty() || !parser.parse_buffer(doc) || !parser.root()) return;
  collect(parser.root(), table_);
}

std::u16string PackageDestinations::Lookup(const std::u16string& package) {
  Load();
  auto it = table_.find(package);
  if (it == table_.end()) it = table_.find(u"other");
  return it == table_.end() ? std::u16string() : it->second;
}

InstallTarget GetInstallTarget(const std::u16string& kind_text, const std::u16string& extracted,
                               PackageDestinations& destinations) {
  const std::u16string kind = lower(kind_text);
  if (kind == u"xpk") return from_manifest(extracted, destinations);
  if (kind == u"gpk") return by_table(extracted, destinations);
  if (kind == u"hpk") {
    const std::u16string obb = trimmed_dir(extracted) + u"\\obb";
    std::error_code ec;
    if (!fs::is_directory(NativePath(obb), ec)) return {};
    const std::u16string sub = single_subfolder(obb);
    if (sub.empty()) return {};
    return {obb + u"\\" + sub, u"/sdcard/" + sub};
  }
  if (kind == u"rar" || kind == u"zip" || kind == u"lpk") {
    const std::u16string sub = single_subfolder(extracted);
    if (sub.empty()) return {};
    if (sub.find(u'.') != std::u16string::npos) return by_table(extracted, destinations);
    return {trimmed_dir(extracted) + u"\\" + sub, u"/sdcard/" + sub};
  }
  return {};
}

}  // namespace desktop
