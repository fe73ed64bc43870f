// What driver installation needs from the system (driver_manager_os_win32.cpp, _posix.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tiv::android::os {

// True on 64-bit Windows, whether this program is a 32-bit one under WOW64 or a 64-bit one;
// false elsewhere and when the system cannot say.
bool windows_is_64bit();

// Creates the folder with its missing parents ("\" or "/"); true when it exists afterwards.
bool make_dirs(const std::wstring& path);

// A started installer. wait() may run while terminate() is called from another thread.
class installer_process {
 public:
  virtual ~installer_process() = default;
  virtual void wait() = 0;
  virtual void terminate() = 0;
  // The exit code once wait() has returned; 0 when it cannot be read.
  virtual std::uint32_t exit_code() = 0;
};

// Starts file with parameters hidden, as the shell's default verb does. Null when it cannot
// start; a system without such an installer (install_type names it) also says so in the log.
std::unique_ptr<installer_process> start_installer(std::int32_t install_type,
                                                   const std::wstring& file,
                                                   const std::wstring& parameters);

}  // namespace tiv::android::os
