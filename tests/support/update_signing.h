// Update packages signed with the test suite's own keys (never a release key), and the
// installations that trust them.
#pragma once

#include "signer.h"
#include "test_files.h"

#include "qv/ed25519.h"
#include "qv/hex.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace tiv_test_update {

namespace fs = std::filesystem;

// The key the test installations trust, and one they do not.
inline constexpr char kTestKey[] = "8564027e819cc8bb1718f26826734e17474d02a912bb8f5e10897e57593cbaed";
inline constexpr char kTestPublicKey[] =
    "e88f2416823e0f9dfedac1cabd28fd98aa6160a3115be114184512d329817180";
inline constexpr char kForeignKey[] = "4dbcc576dd5a907a5d485f94cc1ed4f8dc4717407098bf2036f6815e82b09993";

inline qv::ed25519::private_key Key(const char* hex) {
  qv::ed25519::private_key key{};
  EXPECT_TRUE(qv::from_hex(hex, key.data(), key.size()));
  return key;
}

// Profiles/update_keys.txt of an installation, trusting the test key.
inline void TrustTestKey(const fs::path& install) {
  fs::create_directories(install / "Profiles");
  tiv_test_files::WriteFile(install / "Profiles" / "update_keys.txt",
                            std::string("# test key\n") + kTestPublicKey + "\n");
}

struct SignOptions {
  const char* key = kTestKey;
  bool digests = true;  // fill in the list's digests before signing (else the list is signed as given)
  std::function<void(const fs::path& folder)> tamper;  // runs after signing, before packing
};

// Lays `files` (updatelist.xml among them) out in a folder, signs it and packs the folder as
// `archive`.
inline void WriteSignedUpdate(const fs::path& archive, tiv_test_files::Format format,
                              const std::vector<tiv_test_files::Entry>& files,
                              const SignOptions& options = {}) {
  const fs::path folder = archive.parent_path() / (archive.filename().string() + ".d");
  fs::remove_all(folder);
  for (const auto& f : files) {
    const fs::path p = folder / fs::u8path(f.name);
    fs::create_directories(p.parent_path());
    tiv_test_files::WriteFile(p, f.data);
  }
  const std::u16string text = folder.u16string() + static_cast<char16_t>(fs::path::preferred_separator);
  std::string why;
  if (options.digests) {
    ASSERT_TRUE(updatesign::WriteDigests(text, &why)) << why;
  }
  ASSERT_TRUE(updatesign::SignList(text, Key(options.key), &why)) << why;
  if (options.tamper) options.tamper(folder);

  std::vector<tiv_test_files::Entry> entries;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file())
      entries.emplace_back(it->path().lexically_relative(folder).generic_u8string(),
                           tiv_test_files::ReadFile(it->path()));
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  tiv_test_files::WriteArchive(archive, format, entries);
  fs::remove_all(folder);
}

}  // namespace tiv_test_update
