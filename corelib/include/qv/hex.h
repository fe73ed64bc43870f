// Bytes as hexadecimal text and back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Two lowercase hexadecimal digits per byte.
std::string to_hex(const void* data, std::size_t size);

// Exactly 2 * size hexadecimal digits (either case) into out; false, with out unspecified, for
// any other text.
bool from_hex(std::string_view text, void* out, std::size_t size);

}  // namespace qv
