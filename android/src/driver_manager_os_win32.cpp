#include "driver_manager_os.h"

#include <windows.h>
#include <shellapi.h>

namespace tiv::android::os {
namespace {

class shell_installer : public installer_process {
 public:
  explicit shell_installer(HANDLE process) : process_(process) {}
  ~shell_installer() override { ::CloseHandle(process_); }
  void wait() override { ::WaitForSingleObject(process_, INFINITE); }
  void terminate() override { ::TerminateProcess(process_, 0); }
  std::uint32_t exit_code() override {
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_, &code)) return 0;
    return code;
  }

 private:
  HANDLE process_;
};

}  // namespace

// The system's own architecture, not this program's: a 64-bit program is not under WOW64.
bool windows_is_64bit() {
  constexpr WORD kArm64 = 12;  // PROCESSOR_ARCHITECTURE_ARM64, missing from older headers
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  const WORD arch = info.wProcessorArchitecture;
  return arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64 || arch == kArm64;
}

bool make_dirs(const std::wstring& path) {
  std::wstring p = path;
  for (auto& c : p)
    if (c == L'/') c = L'\\';
  while (p.size() > 3 && p.back() == L'\\') p.pop_back();
  DWORD a = ::GetFileAttributesW(p.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::size_t sep = p.find_last_of(L'\\');
  if (sep != std::wstring::npos && sep > 0 && sep < p.size() - 1 && p[sep - 1] != L':' &&
      !make_dirs(p.substr(0, sep)))
    return false;
  ::CreateDirectoryW(p.c_str(), nullptr);
  a = ::GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::unique_ptr<installer_process> start_installer(std::int32_t, const std::wstring& file,
                                                   const std::wstring& parameters) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // No error box: a missing or unstartable installer is reported through the exit code 0, and a
  // box nobody answers would hold the worker and every later task.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info) || !info.hProcess) return nullptr;
  return std::make_unique<shell_installer>(info.hProcess);
}

}  // namespace tiv::android::os
