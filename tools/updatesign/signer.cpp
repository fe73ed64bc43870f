#include "signer.h"

#include "desktop/update_package.h"

#include "qv/hex.h"
#include "qv/path.h"
#include "qv/text.h"
#include "qv/xml.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using qv::xml::element_ptr;

namespace updatesign {
namespace {

std::string u8(const std::u16string& s) { return qv::xml::to_utf8(s); }

bool fail(std::string* why, const std::string& reason) {
  if (why) *why = reason;
  return false;
}

}  // namespace

fs::path NativePath(const std::u16string& text) {
  return qv::path::to_fs_path(qv::path::to_native(qv::text::utf16_to_wide(text)));
}

bool WriteDigests(const std::u16string& folder, std::string* why) {
  const fs::path list_file = NativePath(folder + desktop::update::kListName);
  qv::xml::basic_xml_dom_parser parser;
  if (!parser.parse_file(list_file) || !parser.root()) return fail(why, "updatelist.xml cannot be read");
  const element_ptr files = parser.root()->child(u"FileList");
  for (std::size_t i = 0; files && i < files->child_count(); ++i) {
    const element_ptr item = files->child(i);
    const auto* src = item->attribute(u"src");
    if (!src || !item->attribute(u"dest")) continue;
    if (!desktop::update::StaysInside(*src))
      return fail(why, "the list names a file outside the folder: " + u8(*src));
    const auto digest = desktop::update::FileDigest(folder + *src);
    if (!digest) return fail(why, "the listed file " + u8(*src) + " cannot be read");
    item->set_attribute(desktop::update::kDigestAttribute,
                        qv::xml::from_utf8(qv::to_hex(digest->data(), digest->size())));
  }
  if (!qv::xml::save_file(*parser.root(), list_file)) return fail(why, "updatelist.xml cannot be written");
  return true;
}

bool SignList(const std::u16string& folder, const qv::ed25519::private_key& key, std::string* why) {
  std::ifstream in(NativePath(folder + desktop::update::kListName), std::ios::binary);
  if (!in) return fail(why, "updatelist.xml cannot be read");
  const std::string list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return fail(why, "updatelist.xml cannot be read");
  const auto sig = qv::ed25519::sign(key, list.data(), list.size());
  std::ofstream out(NativePath(folder + desktop::update::kSignatureName), std::ios::binary | std::ios::trunc);
  out << qv::to_hex(sig.data(), sig.size()) << "\n";
  out.close();
  if (out.fail()) return fail(why, "updatelist.xml.sig cannot be written");
  return true;
}

bool SignFolder(const std::u16string& folder, const qv::ed25519::private_key& key, std::string* why) {
  if (!WriteDigests(folder, why) || !SignList(folder, key, why)) return false;
  if (!desktop::update::CheckPackage(folder, {qv::ed25519::public_key_of(key)}, why)) {
    std::error_code ec;
    fs::remove(NativePath(folder + desktop::update::kSignatureName), ec);
    return false;
  }
  return true;
}

}  // namespace updatesign
