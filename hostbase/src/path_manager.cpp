#include "hostbase/path_manager.h"

#include "path_manager_os.h"
#include "hostbase/profile.h"

#include "qv/path.h"

namespace hostbase {

std::wstring DirectoryOf(const std::wstring& path) {
  const auto pos = path.find_last_of(L"\\/");
  if (pos == std::wstring::npos) {
    os::set_last_error(kErrorInvalidArgument);
    return {};
  }
  return path.substr(0, pos + 1);
}

unsigned long GetPathLastError() { return os::last_error(); }

namespace {

std::wstring with_backslash(std::wstring p) {
  if (!p.empty() && p.back() != L'\\') p += L'\\';
  return p;
}

// A sub-directory of a system directory, created when missing; empty when the system gave none.
std::wstring data_dir(const std::wstring& base, const wchar_t* name) {
  if (base.empty()) return {};
  std::wstring dir = with_backslash(qv::path::to_windows_text(base)) + name;
  if (!os::make_dir(qv::path::to_native(dir))) return {};
  return dir + L"\\";
}

}  // namespace

std::wstring GetExePath() { return qv::path::to_windows_text(os::module_file_name()); }

std::wstring GetProgramCommandLine() { return os::command_line(); }

std::wstring GetSystemTempDir() {
  const std::wstring t = os::system_temp_path();
  return t.empty() ? std::wstring() : with_backslash(qv::path::to_windows_text(t));
}

std::wstring GetModuleDir() { return DirectoryOf(GetExePath()); }

std::wstring GetTempDirectory() {
  const std::wstring dir = os::app_temp_dir();
  return dir.empty() ? std::wstring() : with_backslash(qv::path::to_windows_text(dir));
}

std::wstring GetAppDataDir() { return data_dir(os::user_data_path(), L"Tivorel"); }

std::wstring GetCommonAppDataDir() { return data_dir(os::common_data_path(), L"Qorvan"); }

void CPathManager::Fill() {
  if (filled_) return;
  filled_ = true;
  const std::wstring exe = GetExePath();
  exe_dir_ = exe.empty() ? std::wstring() : DirectoryOf(exe);
  search_dir_ = exe_dir_;
  // A profile folder of the user's own where the program folder cannot be written: the Linux
  // package's starter names one, as the program there belongs to root.
  const std::wstring own_profile = os::environment(kProfileDirVariable);
  profile_dir_ = own_profile.empty() ? exe_dir_ + L"Profiles\\"
                                     : with_backslash(qv::path::to_windows_text(own_profile));
  temp_dir_ = GetTempDirectory();
  xar_dir_ = exe_dir_ + L"xar";
}

std::wstring CPathManager::GetExeDir() {
  Fill();
  return exe_dir_;
}
std::wstring CPathManager::GetSearchDir() {
  Fill();
  return search_dir_;
}
std::wstring CPathManager::GetProfileDir() {
  Fill();
  return profile_dir_;
}
std::wstring CPathManager::GetTempDir() {
  Fill();
  return temp_dir_;
}
std::wstring CPathManager::GetXarDir() {
  Fill();
  return xar_dir_;
}

std::wstring ReadAppVersion() {
  // The profile folder is "Profiles"; on systems whose file names depend on case, the name
  // must be written as the folder is.
  const std::wstring file = GetModuleDir() + L"Profiles\\config.ini";
  return ReadProfileString(L"basic", L"appver", L"1.0", file, 9);
}

}  // namespace hostbase
