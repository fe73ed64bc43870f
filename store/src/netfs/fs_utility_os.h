// What the filesystem utility objects need from the system: one implementation per target
// (fs_utility_os_win32.cpp, fs_utility_os_posix.cpp); the program's file comes from hostbase
// (program_path.cpp). Paths may use "\" or "/" on every target;
// folders handed back use the program's path text ("\" separators, see to_path_text).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace store::os {

bool is_dir(const std::wstring& path);
bool exists(const std::wstring& path);
// Size in bytes of an existing entry that is not a folder; -1 otherwise.
std::int64_t file_size(const std::wstring& path);
bool make_dir(const std::wstring& path);  // false when it already exists

std::wstring current_dir();
bool set_current_dir(const std::wstring& path);
std::wstring exe_path();     // the system's form, as hostbase knows it
std::wstring module_path();
// The system folders, without a trailing separator; empty when unknown.
std::wstring common_appdata_dir();
std::wstring appdata_dir();

void set_last_error(std::uint32_t code);

// The program's path text for a system path.
std::wstring to_path_text(const std::wstring& native);

}  // namespace store::os
