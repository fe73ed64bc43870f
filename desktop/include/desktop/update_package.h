// Authentic update packages: what a signed package holds and how a staged one is checked.
//
// A package holds "updatelist.xml", its detached Ed25519 signature "updatelist.xml.sig" (the
// 64-byte signature as 128 hexadecimal digits; blanks and line breaks around them are allowed)
// and the files that the list names. Every "FileList" child carries, beside `src` and `dest`,
// the SHA-256 of its file as 64 hexadecimal digits in the attribute `sha256` (readers that do
// not know it ignore it). The signature covers the list's bytes exactly as they are stored, so
// the digests, the deletions and the targets are all signed.
#pragma once

#include "qv/ed25519.h"
#include "qv/sha256.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace desktop::update {

inline constexpr char16_t kListName[] = u"updatelist.xml";
inline constexpr char16_t kSignatureName[] = u"updatelist.xml.sig";
inline constexpr char16_t kDigestAttribute[] = u"sha256";
// The public keys the program trusts, below its own folder.
inline constexpr char16_t kTrustedKeysFile[] = u"Profiles\\update_keys.txt";

// The bytes a key is made of (a public key, or a private key's secret seed).
using KeyBytes = std::array<std::uint8_t, 32>;

// Keys from the text of a key file: one key of 64 hexadecimal digits per line; blanks around it,
// empty lines and everything from "#" to the end of a line are ignored. The numbers (from 1) of
// lines that hold something else go to bad_lines, and those lines are skipped.
std::vector<KeyBytes> ParseKeyLines(const std::string& text, std::vector<int>* bad_lines);

// A relative path that stays inside its folder: not absolute, no drive or stream name, no ".."
// component in either separator.
bool StaysInside(const std::u16string& path);

// The same relative path, written one way: "\" between components, no empty or "." components.
std::u16string NormalPath(const std::u16string& path);

// The SHA-256 of a plain file's bytes (a link is not followed); nothing when it cannot be read.
std::optional<qv::sha256_bytes> FileDigest(const std::u16string& path);

// What a checked list asks for.
struct Copy {
  std::u16string src;
  std::u16string dest;
  qv::sha256_bytes digest;
};
struct Plan {
  std::vector<std::u16string> deletions;  // in list order
  std::vector<Copy> copies;  // in ascending order of src; of several with one src the last wins
};

// Checks the package unpacked in `folder` (path text with a trailing separator): the list's
// signature verifies against one of `keys`; every target stays inside the installation; every
// listed file exists as a plain file and matches its digest; and the folder holds no file that
// the list does not name. On success the plan; otherwise nothing, with the reason in words.
std::optional<Plan> CheckPackage(const std::u16string& folder,
                                 const std::vector<qv::ed25519::public_key>& keys, std::string* why);

}  // namespace desktop::update
