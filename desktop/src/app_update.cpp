#include "desktop/app_update.h"

#include "apphelp_os.h"
#include "desktop/archive.h"
#include "desktop/log.h"
#include "desktop/update_package.h"
#include "file_util.h"

#include "qv/xml.h"

#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace desktop {
namespace {

// Trusted keys are tens of bytes each.
constexpr std::size_t kKeysLimit = 1u << 20;

std::string u8(const std::u16string& s) { return qv::xml::to_utf8(s); }

// Copies from to to, hashing what is copied: the staged file is read once more here, and only
// bytes that match the checked digest may reach the installation.
bool copy_checked(const std::u16string& from, const std::u16string& to, const qv::sha256_bytes& digest) {
  std::ifstream in(NativePath(from), std::ios::binary);
  std::ofstream out(NativePath(to), std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  qv::sha256_hasher h;
  std::vector<char> block(1 << 16);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize n = in.gcount();
    h.update(block.data(), static_cast<std::size_t>(n));
    out.write(block.data(), n);
  }
  out.close();
  if (in.bad() || !in.eof() || out.fail()) return false;
  if (!qv::sha256_equal(h.digest(), digest)) {
    LogLine("update: " + u8(from) + " changed after it was checked");
    return false;
  }
  return true;
}

void install_one(const std::u16string& source, const std::u16string& target,
                 const qv::sha256_bytes& digest) {
  std::error_code ec;
  const fs::path native_target = NativePath(target);
  const std::u16string tmp = target + u".tmp";
  if (fs::exists(native_target, ec)) {
    if (!copy_checked(source, tmp, digest)) {
      LogLine("update: cannot copy " + u8(source) + " to " + u8(tmp));
      fs::remove(NativePath(tmp), ec);
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
  if (!copy_checked(source, tmp, digest) || !os::place_new_file(tmp, target)) {
    LogLine("update: cannot copy " + u8(source) + " to " + u8(target));
    fs::remove(NativePath(tmp), ec);
  }
}

// The reason goes to the program's log and to the one the user interface keeps.
bool refuse(const std::u16string& archive, const std::string& why) {
  LogLineForUi("update " + u8(archive) + " refused: " + why + "; nothing was installed");
  return false;
}

std::vector<qv::ed25519::public_key> trusted_keys(const std::u16string& install_dir) {
  const std::u16string file = install_dir + update::kTrustedKeysFile;
  const auto text = ReadWholeFile(file, kKeysLimit);
  if (!text) return {};
  std::vector<int> bad;
  auto keys = update::ParseKeyLines(*text, &bad);
  for (int line : bad)
    LogLine("update: line " + std::to_string(line) + " of " + u8(file) + " is not a key; skipped");
  return keys;
}

}  // namespace

bool InstallUpdate(const std::u16string& archive, const std::u16string& temp_dir,
                   const std::u16string& install_dir_text) {
  const std::u16string update_dir = WithSeparator(temp_dir) + u"Update\\";
  const std::u16string install_dir = WithSeparator(install_dir_text);
  if (temp_dir.empty() || install_dir.empty()) return false;
  const auto keys = trusted_keys(install_dir);
  if (keys.empty())
    return refuse(archive, "no update key is trusted (" + u8(install_dir + update::kTrustedKeysFile) + ")");

  // What an earlier update left in the staging folder must never be taken for this one's.
  // remove_all takes links away without following them.
  std::error_code ec;
  const fs::path staging = NativePath(update_dir);
  fs::remove_all(staging, ec);
  if (ec || !fs::create_directories(staging, ec))
    return refuse(archive, "the staging folder " + u8(update_dir) + " cannot be emptied");
  if (!ExtractAll(archive, update_dir)) return refuse(archive, "it could not be extracted whole");

  std::string why;
  const auto plan = update::CheckPackage(update_dir, keys, &why);
  if (!plan) return refuse(archive, why);

  // Checked whole; from here on each file operation stands alone.
  for (const auto& dest : plan->deletions) fs::remove(NativePath(install_dir + dest), ec);
  for (const auto& copy : plan->copies)
    install_one(update_dir + copy.src, install_dir + copy.dest, copy.digest);
  return true;
}

}  // namespace desktop
