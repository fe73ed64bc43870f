// tivorel_updatesign: makes update signing keys, signs an update folder, checks one.
//
//   tivorel_updatesign keygen PRIVATE-KEY-FILE PUBLIC-KEY-FILE
//   tivorel_updatesign sign PRIVATE-KEY-FILE FOLDER
//   tivorel_updatesign verify TRUSTED-KEYS-FILE FOLDER
//
// FOLDER holds updatelist.xml and the files it lists, laid out as the update archive will be.
// "sign" writes each listed file's SHA-256 into the list and the list's signature beside it;
// "verify" runs the check the program runs before it installs an update. Exit code 0 on
// success, 1 when refused or failed, 2 on wrong usage.
#include "signer.h"
#include "updatesign_os.h"

#include "desktop/update_package.h"

#include "qv/hex.h"
#include "qv/xml.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string u8(const std::u16string& s) { return qv::xml::to_utf8(s); }

std::u16string as_folder(std::u16string text) {
  if (!text.empty() && text.back() != u'\\' && text.back() != u'/')
    text.push_back(static_cast<char16_t>(fs::path::preferred_separator));
  return text;
}

int usage() {
  std::fprintf(stderr,
               "usage: tivorel_updatesign keygen PRIVATE-KEY-FILE PUBLIC-KEY-FILE\n"
               "       tivorel_updatesign sign PRIVATE-KEY-FILE FOLDER\n"
               "       tivorel_updatesign verify TRUSTED-KEYS-FILE FOLDER\n");
  return 2;
}

int failed(const std::string& what) {
  std::fprintf(stderr, "tivorel_updatesign: %s\n", what.c_str());
  return 1;
}

std::optional<std::string> read_file(const std::u16string& file) {
  std::ifstream in(updatesign::NativePath(file), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

// The keys of a key file, with every line that is not one reported.
std::optional<std::vector<desktop::update::KeyBytes>> read_keys(const std::u16string& file) {
  const auto text = read_file(file);
  if (!text) {
    failed(u8(file) + ": cannot be read");
    return std::nullopt;
  }
  std::vector<int> bad;
  auto keys = desktop::update::ParseKeyLines(*text, &bad);
  for (int line : bad) failed(u8(file) + ": line " + std::to_string(line) + " is not a key");
  if (!bad.empty()) return std::nullopt;
  return keys;
}

int keygen(const std::u16string& private_file, const std::u16string& public_file) {
  qv::ed25519::private_key key{};
  if (!updatesign::os::RandomBytes(key.data(), key.size())) return failed("no random bytes from the system");
  const auto pub = qv::ed25519::public_key_of(key);
  const std::string secret =
      "# Tivorel update signing key: PRIVATE. Whoever holds it can sign updates that every\n"
      "# installation trusting its public half installs. Never commit or share it.\n" +
      qv::to_hex(key.data(), key.size()) + "\n";
  if (!updatesign::os::WriteNewPrivateFile(updatesign::NativePath(private_file), secret))
    return failed(u8(private_file) + ": cannot be created (it may exist already)");
  std::ofstream out(updatesign::NativePath(public_file), std::ios::binary | std::ios::trunc);
  out << "# Tivorel update key (public half); one line of Profiles/update_keys.txt\n"
      << qv::to_hex(pub.data(), pub.size()) << "\n";
  out.close();
  if (out.fail()) return failed(u8(public_file) + ": cannot be written");
  std::printf("%s\n", qv::to_hex(pub.data(), pub.size()).c_str());
  return 0;
}

int sign(const std::u16string& private_file, const std::u16string& folder) {
  const auto keys = read_keys(private_file);
  if (!keys) return 1;
  if (keys->size() != 1) return failed(u8(private_file) + ": holds " + std::to_string(keys->size()) + " keys, not one");
  std::string why;
  if (!updatesign::SignFolder(as_folder(folder), keys->front(), &why)) return failed(u8(folder) + ": " + why);
  const auto pub = qv::ed25519::public_key_of(keys->front());
  std::printf("signed with the key %s\n", qv::to_hex(pub.data(), pub.size()).c_str());
  return 0;
}

int verify(const std::u16string& keys_file, const std::u16string& folder) {
  const auto keys = read_keys(keys_file);
  if (!keys) return 1;
  std::string why;
  if (!desktop::update::CheckPackage(as_folder(folder), *keys, &why)) return failed(u8(folder) + ": refused: " + why);
  std::printf("authentic\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::u16string> args = updatesign::os::Arguments(argc, argv);
  if (args.size() != 3) return usage();
  if (args[0] == u"keygen") return keygen(args[1], args[2]);
  if (args[0] == u"sign") return sign(args[1], args[2]);
  if (args[0] == u"verify") return verify(args[1], args[2]);
  return usage();
}
