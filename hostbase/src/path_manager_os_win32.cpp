#include "path_manager_os.h"

#include <shlobj.h>
#include <windows.h>

#include <string>

namespace hostbase::os {

std::wstring command_line() {
  const wchar_t* line = GetCommandLineW();
  return line ? line : L"";
}

std::wstring module_file_name() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::wstring system_temp_path() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return {};
  return std::wstring(buf, n);
}

// The user's own temporary folder already; the program's folder below it.
std::wstring app_temp_dir() {
  const std::wstring t = system_temp_path();
  if (t.empty()) return {};
  const std::wstring dir = t + L"Tivorel";
  make_dir(dir);
  return dir + L"\\";
}

namespace {
std::wstring special_folder(int csidl) {
  wchar_t buf[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
  return buf;
}
}  // namespace

std::wstring user_data_path() { return special_folder(CSIDL_APPDATA); }
std::wstring common_data_path() { return special_folder(CSIDL_COMMON_APPDATA); }

std::wstring environment(const char* name) {
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));  // ASCII
  const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(wide_name.c_str(), &value[0], n);
  value.resize(got < n ? got : 0);
  return value;
}

bool make_dir(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

void set_last_error(unsigned long code) { SetLastError(code); }
unsigned long last_error() { return GetLastError(); }

}  // namespace hostbase::os
