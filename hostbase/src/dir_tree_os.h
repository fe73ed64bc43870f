// What the folder deletion needs from the system (dir_tree_os_posix.cpp, dir_tree_os_win32.cpp).
// Paths are in the system's own form (qv::path::to_native, qv::path::join_native): on POSIX a
// "\" in them is part of a name.
#pragma once

#include "hostbase/dir_tree.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hostbase::os {

using dir_entry = DirEntry;

// The entries without "." and ".."; false when the folder cannot be listed.
bool list_dir(const std::wstring& dir, std::vector<dir_entry>& out);
// An existing folder that is not itself a link.
bool is_real_dir(const std::wstring& path);
bool exists(const std::wstring& path);  // without following a final link
bool remove_dir(const std::wstring& path);
bool remove_link(const std::wstring& path, bool link_to_dir);
bool remove_file(const std::wstring& path);
// Clears the read-only attribute (Windows) or adds the owner's write permission (POSIX).
void make_deletable(const std::wstring& path, bool is_dir);
void set_thread_error(std::uint32_t code);

}  // namespace hostbase::os
