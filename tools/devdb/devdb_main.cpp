// tivorel_devdb: packs a device database document into the scrambled container that travels
// with the ADB client, and unpacks one again for inspection.
//
//   tivorel_devdb pack [--key HHHHHHHH] [--plain] <source.xml> <container>
//   tivorel_devdb unpack <container> <document.xml | ->
//   tivorel_devdb check <source.xml>
//
// pack checks the document first and refuses one that the device detector could not use; with
// --plain it packs any well-formed XML document (the package destinations travel in the same
// container). The key is four bytes in hex; without --key a random key is chosen.

#include "qv/scrambled_container.h"
#include "devdb_check.h"
#include "qv/xml.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: tivorel_devdb pack [--key HHHHHHHH] [--plain] <source.xml> <container>\n"
               "       tivorel_devdb unpack <container> <document.xml | ->\n"
               "       tivorel_devdb check <source.xml>\n");
  return 2;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return s;
}

bool write_file(const std::string& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return !out.fail();
}

std::optional<std::array<std::uint8_t, 4>> parse_key(const std::string& hex) {
  if (hex.size() != 8) return std::nullopt;
  std::array<std::uint8_t, 4> key{};
  for (std::size_t i = 0; i < 8; ++i) {
    char c = hex[i];
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) return std::nullopt;
    key[i / 2] = static_cast<std::uint8_t>(key[i / 2] * 16 + v);
  }
  return key;
}

// Parses and checks the document; prints what is wrong.
bool check_document(const std::string& name, const std::string& doc) {
  qv::xml::basic_xml_dom_parser parser;
  if (!parser.parse_buffer(doc)) {
    std::fprintf(stderr, "%s: not a well-formed XML document\n", name.c_str());
    return false;
  }
  devdb::CheckResult r = devdb::Check(parser.root());
  for (const auto& e : r.errors) std::fprintf(stderr, "%s: %s\n", name.c_str(), e.c_str());
  if (!r.errors.empty()) return false;
  std::fprintf(stderr, "%s: %zu vendors, %zu devices\n", name.c_str(), r.vendor_count, r.device_count);
  return true;
}

int pack(int argc, char** argv) {
  std::optional<std::array<std::uint8_t, 4>> key;
  int i = 2;
  if (i < argc && std::strcmp(argv[i], "--key") == 0) {
    if (i + 1 >= argc || !(key = parse_key(argv[i + 1]))) {
      std::fprintf(stderr, "tivorel_devdb: --key takes eight hex digits\n");
      return 2;
    }
    i += 2;
  }
  bool plain = false;
  if (i < argc && std::strcmp(argv[i], "--plain") == 0) {
    plain = true;
    ++i;
  }
  if (argc - i != 2) return usage();
  const std::string source = argv[i], target = argv[i + 1];
  auto doc = read_file(source);
  if (!doc) {
    std::fprintf(stderr, "%s: cannot read\n", source.c_str());
    return 1;
  }
  if (plain) {
    qv::xml::basic_xml_dom_parser parser;
    if (!parser.parse_buffer(*doc)) {
      std::fprintf(stderr, "%s: not a well-formed XML document\n", source.c_str());
      return 1;
    }
  } else if (!check_document(source, *doc)) {
    return 1;
  }
  if (!key) {
    std::random_device rd;
    std::uint32_t r = rd();
    key = std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(r >> 8),
                                      static_cast<std::uint8_t>(r >> 16), static_cast<std::uint8_t>(r >> 24)};
  }
  auto container = qv::container::WriteScrambledDocument(*doc, *key);
  if (container.empty()) {
    std::fprintf(stderr, "%s: document too large\n", source.c_str());
    return 1;
  }
  // Proof that the reader takes what was written.
  if (qv::container::ReadScrambledDocument(container) != *doc) {
    std::fprintf(stderr, "%s: the container does not read back\n", target.c_str());
    return 1;
  }
  if (!write_file(target, container.data(), container.size())) {
    std::fprintf(stderr, "%s: cannot write\n", target.c_str());
    return 1;
  }
  return 0;
}

int unpack(int argc, char** argv) {
  if (argc != 4) return usage();
  auto bytes = read_file(argv[2]);
  if (!bytes) {
    std::fprintf(stderr, "%s: cannot read\n", argv[2]);
    return 1;
  }
  const std::string doc = qv::container::ReadScrambledDocument(
      reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
  if (doc.empty()) {
    std::fprintf(stderr, "%s: not a scrambled container with my.dt\n", argv[2]);
    return 1;
  }
  if (std::strcmp(argv[3], "-") == 0) {
    std::fwrite(doc.data(), 1, doc.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!write_file(argv[3], doc.data(), doc.size())) {
    std::fprintf(stderr, "%s: cannot write\n", argv[3]);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string cmd = argv[1];
  if (cmd == "pack") return pack(argc, argv);
  if (cmd == "unpack") return unpack(argc, argv);
  if (cmd == "check" && argc == 3) {
    auto doc = read_file(argv[2]);
    if (!doc) {
      std::fprintf(stderr, "%s: cannot read\n", argv[2]);
      return 1;
    }
    return check_document(argv[2], *doc) ? 0 : 1;
  }
  return usage();
}
