// Replacing a file by another in one step, per OS.
#pragma once

#include <filesystem>

namespace qv::xml::os {

// Moves from over to, replacing an existing file. False on failure (from is left in place).
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace qv::xml::os
