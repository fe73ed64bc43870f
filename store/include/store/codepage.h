// The national code page 936 (GBK), in which download URLs travel to the maker's servers.
#pragma once

#include <string>
#include <string_view>

namespace store {

// Characters that the code page cannot express become "?".
std::string utf16_to_cp936(std::u16string_view s);

}  // namespace store
