#include "driver_manager_os.h"

#include "android/child_process.h"
#include "qv/text.h"
#include "qv/path.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tiv::android::os {
namespace {

void log_line(const std::string& line) {
  std::fprintf(stderr, "[android] %s\n", line.c_str());
  std::fflush(stderr);
}

// The quoted program of a command line, without its quotes.
std::string unquoted_path(const std::wstring& file) {
  std::wstring f = file;
  if (f.size() >= 2 && f.front() == L'"' && f.back() == L'"') f = f.substr(1, f.size() - 2);
  return qv::text::wide_to_utf8(qv::path::to_native(f));
}

class child_installer : public installer_process {
 public:
  explicit child_installer(std::unique_ptr<child_process> p) : p_(std::move(p)) {}
  void wait() override { p_->wait(-1); }
  void terminate() override { p_->terminate(); }
  std::uint32_t exit_code() override { return static_cast<std::uint32_t>(p_->exit_code()); }

 private:
  std::unique_ptr<child_process> p_;
};

}  // namespace

bool windows_is_64bit() { return false; }

bool make_dirs(const std::wstring& path) {
  std::error_code ec;
  const std::filesystem::path p(qv::text::wide_to_utf8(qv::path::to_native(path)));
  std::filesystem::create_directories(p, ec);
  return std::filesystem::is_directory(p, ec);
}

std::unique_ptr<installer_process> start_installer(std::int32_t install_type,
                                                   const std::wstring& file,
                                                   const std::wstring& parameters) {
  if (install_type != 1) {
    // The driver installer and the Windows installer exist only on Windows.
    log_line("driver task of type " + std::to_string(install_type) + " (" + qv::text::wide_to_utf8(file) + " " +
             qv::text::wide_to_utf8(parameters) + "): no installer on this system");
    return nullptr;
  }
  // Archives do not carry the execute permission: the target was unpacked into our own working
  // folder, so it gets it here (a script then runs through its "#!" line).
  const std::string target = unquoted_path(file);
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IXUSR))
    ::chmod(target.c_str(), st.st_mode | S_IXUSR);
  process_options options;
  options.own_group = true;  // what the installer starts ends with it on UnInit
  std::wstring why;
  auto p = child_process::start(file + (parameters.empty() ? L"" : L" " + parameters), options, &why);
  if (!p) {
    log_line("driver installer cannot start: " + qv::text::wide_to_utf8(why));
    return nullptr;
  }
  return std::make_unique<child_installer>(std::move(p));
}

}  // namespace tiv::android::os
