// The system side of the application's directories. Results are in the system's own form.
#pragma once

#include <string>

namespace hostbase::os {

std::wstring module_file_name();   // full path of the executable; empty on failure
std::wstring command_line();
std::wstring system_temp_path();   // with a trailing separator; empty on failure
// The program's own temporary folder (its logs live there), created when missing, with a
// trailing separator; empty when no folder fit for it can be had.
std::wstring app_temp_dir();
std::wstring user_data_path();     // CSIDL_APPDATA or $XDG_DATA_HOME (~/.local/share)
std::wstring common_data_path();   // CSIDL_COMMON_APPDATA or /var/lib
bool make_dir(const std::wstring& path);  // true when it exists afterwards
std::wstring environment(const char* name);  // a variable's value; empty when it is not set
void set_last_error(unsigned long code);
unsigned long last_error();

}  // namespace hostbase::os
