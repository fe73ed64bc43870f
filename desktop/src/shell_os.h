// The operating-system side of "Win32Shell.Object".
#pragma once

#include <cstdint>
#include <string>

namespace desktop::os {

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t tick_count();

// The system's folder for temporary files, ending with a separator; "" when unknown.
std::wstring temp_dir();

// Total and caller-available bytes of the volume holding path; false when it cannot be queried.
bool disk_space(const std::wstring& path, std::uint64_t& total, std::uint64_t& free);

}  // namespace desktop::os
