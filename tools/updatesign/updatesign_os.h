// What the signing tool needs from the system.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace updatesign::os {

// The program's arguments after its own name, as UTF-16 text (Windows hands them over in
// UTF-16; elsewhere they are taken as UTF-8).
std::vector<std::u16string> Arguments(int argc, char** argv);

// Bytes from the system's cryptographic random source; false when it gives none.
bool RandomBytes(void* out, std::size_t size);

// Writes a new file that only this user may read; fails, writing nothing, when the file exists.
bool WriteNewPrivateFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace updatesign::os
