// Whole-file reading and path text helpers shared by the application services.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace desktop {

// Path text in either separator as the system wants it.
std::filesystem::path NativePath(std::u16string text);

// The whole file, or nothing when it cannot be read or is larger than `limit`.
std::optional<std::string> ReadWholeFile(const std::u16string& path, std::size_t limit);

// Path text that ends with a separator ("\" added when it has none; empty stays empty).
std::u16string WithSeparator(std::u16string dir);

}  // namespace desktop
