#include "desktop/update_package.h"

#include "file_util.h"

#include "qv/hex.h"
#include "qv/xml.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;
using qv::xml::element_ptr;

namespace desktop::update {
namespace {

// A list of many thousand files is far below this; a signature file is one line.
constexpr std::size_t kListLimit = 16u << 20;
constexpr std::size_t kSignatureLimit = 4096;

std::string u8(const std::u16string& s) { return qv::xml::to_utf8(s); }

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool parse_digest(const std::u16string* text, qv::sha256_bytes& out) {
  return text && qv::from_hex(u8(*text), out.data(), out.size());
}

}  // namespace

std::vector<KeyBytes> ParseKeyLines(const std::string& text, std::vector<int>* bad_lines) {
  std::vector<KeyBytes> keys;
  std::size_t start = 0;
  for (int number = 1; start <= text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    KeyBytes key{};
    if (qv::from_hex(line, key.data(), key.size())) {
      keys.push_back(key);
    } else if (bad_lines) {
      bad_lines->push_back(number);
    }
  }
  return keys;
}

bool StaysInside(const std::u16string& p) {
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

std::u16string NormalPath(const std::u16string& p) {
  std::u16string out;
  std::size_t start = 0;
  while (start <= p.size()) {
    std::size_t end = p.find_first_of(u"\\/", start);
    if (end == std::u16string::npos) end = p.size();
    const std::u16string part = p.substr(start, end - start);
    if (!part.empty() && part != u".") {
      if (!out.empty()) out.push_back(u'\\');
      out += part;
    }
    start = end + 1;
  }
  return out;
}

std::optional<qv::sha256_bytes> FileDigest(const std::u16string& path) {
  const fs::path p = NativePath(path);
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(p, ec))) return std::nullopt;
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  qv::sha256_hasher h;
  std::vector<char> block(1 << 16);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    h.update(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad() || !in.eof()) return std::nullopt;
  return h.digest();
}

std::optional<Plan> CheckPackage(const std::u16string& folder,
                                 const std::vector<qv::ed25519::public_key>& keys, std::string* why) {
  auto refuse = [why](const std::string& reason) -> std::optional<Plan> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (keys.empty()) return refuse("no update key is trusted");

  const auto list = ReadWholeFile(folder + kListName, kListLimit);
  if (!list) return refuse("it holds no readable updatelist.xml");
  const auto sig_text = ReadWholeFile(folder + kSignatureName, kSignatureLimit);
  if (!sig_text) return refuse("it is not signed (no updatelist.xml.sig)");
  qv::ed25519::signature sig{};
  if (!qv::from_hex(trim(*sig_text), sig.data(), sig.size()))
    return refuse("updatelist.xml.sig does not hold a signature");
  bool signed_by_trusted_key = false;
  for (const auto& key : keys) {
    if (qv::ed25519::verify(key, list->data(), list->size(), sig)) {
      signed_by_trusted_key = true;
      break;
    }
  }
  if (!signed_by_trusted_key)
    return refuse("the signature of updatelist.xml does not verify against any trusted key");

  // From here on only the bytes that were verified are read, never the file again.
  qv::xml::basic_xml_dom_parser parser;
  if (!parser.parse_buffer(*list) || !parser.root()) return refuse("updatelist.xml cannot be read");
  const element_ptr root = parser.root();

  Plan plan;
  if (element_ptr deletions = root->child(u"DeleteFileList")) {
    for (std::size_t i = 0; i < deletions->child_count(); ++i) {
      const auto* dest = deletions->child(i)->attribute(u"dest");
      if (!dest) continue;
      if (!StaysInside(*dest))
        return refuse("the list deletes a file outside the installation: " + u8(*dest));
      plan.deletions.push_back(*dest);
    }
  }

  std::map<std::u16string, Copy> copies;  // by src: ascending, and a later child wins
  std::set<std::u16string> listed{NormalPath(kListName), NormalPath(kSignatureName)};
  std::map<std::u16string, qv::sha256_bytes> staged;  // digests of the files read so far
  if (element_ptr files = root->child(u"FileList")) {
    for (std::size_t i = 0; i < files->child_count(); ++i) {
      const element_ptr item = files->child(i);
      const auto* src = item->attribute(u"src");
      const auto* dest = item->attribute(u"dest");
      if (!src || !dest) continue;
      if (!StaysInside(*src)) return refuse("the list names a file outside the package: " + u8(*src));
      if (!StaysInside(*dest))
        return refuse("the list writes a file outside the installation: " + u8(*dest));
      Copy copy{*src, *dest, {}};
      if (!parse_digest(item->attribute(kDigestAttribute), copy.digest))
        return refuse("the list gives no SHA-256 for " + u8(*src));
      const std::u16string name = NormalPath(*src);
      auto known = staged.find(name);
      if (known == staged.end()) {
        const auto digest = FileDigest(folder + *src);
        if (!digest) return refuse("the listed file " + u8(*src) + " is missing");
        known = staged.emplace(name, *digest).first;
      }
      if (!qv::sha256_equal(known->second, copy.digest))
        return refuse(u8(*src) + " does not match its SHA-256 in the list");
      listed.insert(name);
      copies[*src] = std::move(copy);
    }
  }

  // Whatever the package holds, the signed list accounts for.
  const fs::path base = NativePath(folder);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (fs::is_directory(it->symlink_status(ec))) continue;
    const std::u16string name = NormalPath(it->path().lexically_relative(base).u16string());
    if (!listed.count(name)) return refuse("it holds a file that the list does not name: " + u8(name));
  }
  if (ec) return refuse("its files cannot be listed");

  for (auto& entry : copies) plan.copies.push_back(std::move(entry.second));
  return plan;
}

}  // namespace desktop::update
