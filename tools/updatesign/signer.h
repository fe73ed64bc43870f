// Making signed update packages: the digests into the list, the signature beside it.
//
// Folders are path text with a trailing separator, as desktop::update takes them.
#pragma once

#include "qv/ed25519.h"

#include <filesystem>
#include <string>

namespace updatesign {

// Path text in either separator as the system wants it.
std::filesystem::path NativePath(const std::u16string& text);

// Writes the SHA-256 of every file that the folder's updatelist.xml lists into the entry's
// `sha256` attribute and saves the list. False, with the reason, when the list cannot be read
// or written, or a listed file is missing or lies outside the folder.
bool WriteDigests(const std::u16string& folder, std::string* why);

// Signs the list exactly as it is stored: writes updatelist.xml.sig.
bool SignList(const std::u16string& folder, const qv::ed25519::private_key& key, std::string* why);

// WriteDigests and SignList, then the program's own check with the key's public half: a folder
// that the program would refuse (a file the list does not name, a target outside the
// installation) is left without a signature.
bool SignFolder(const std::u16string& folder, const qv::ed25519::private_key& key, std::string* why);

}  // namespace updatesign
