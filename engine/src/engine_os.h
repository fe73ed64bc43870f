// The few system services the engine needs: files, folders and the temporary directory.
// Paths are UTF-8 and may use either separator.
#pragma once

#include <string>
#include <vector>

namespace qv_engine::os {

// The program's temporary folder, with a trailing separator, created when missing; "" when there
// is none. Windows: the system temporary path + "Tivorel"; POSIX: the folder of this user alone
// that the host's paths choose.
std::string temp_dir();
bool read_file(const std::string& path, std::string& out);
void append_file(const std::string& path, const std::string& text);
// Names of the folders directly inside dir.
std::vector<std::string> subfolders(const std::string& dir);
// The separator the system prefers, for paths the engine puts together.
char separator();
// The path as the system wants it: unchanged where "\" is the separator, else every "\"
// becomes "/".
std::string native_path(const std::string& path);

}  // namespace qv_engine::os
