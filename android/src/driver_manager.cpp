#include "android/driver_manager.h"

#include "android/child_process.h"
#include "driver_manager_os.h"
#include "task_queue.h"
#include "hostbase/archive_extractor.h"
#include "hostbase/path_manager.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"

#include <system_error>

namespace tiv::android {

namespace {

std::wstring quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

}  // namespace

InstallCommand BuildInstallCommand(std::int32_t install_type, const std::wstring& target_path,
                                   const std::wstring& installer_path,
                                   const std::vector<std::wstring>& arguments) {
  InstallCommand c;
  switch (install_type) {
    case kInstallRunTarget:
      c.file = quoted(target_path);
      break;
    case kInstallDriverPackage:
      c.file = installer_path;
      c.parameters = quoted(target_path);
      for (const auto& a : arguments) c.parameters += L"  " + quoted(a);
      break;
    case kInstallWindowsInstaller:
      c.file = L"msiexec";
      c.parameters = L"/i " + quoted(target_path);
      break;
    default:
      return c;
  }
  c.run = true;
  return c;
}

std::wstring PackageFolderName(const std::wstring& package_path) {
  const std::size_t sep = package_path.find_last_of(L"\\/");
  const std::wstring name = sep == std::wstring::npos ? package_path : package_path.substr(sep + 1);
  const std::size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

DriverUrl DriverUrlFor(std::int32_t platform) {
  return {platform == 1 ? L"driver_001.zip" : L"driver_002.zip", L"android_winusb.inf",
          kInstallDriverPackage};
}

CDriverManager::CDriverManager() = default;

CDriverManager::~CDriverManager() {
  UnInit();
  // The worker uses this object: it is waited for here, never in UnInit (on the UI thread).
  if (worker_.joinable()) worker_.join();
}

int CDriverManager::Init() {
  std::lock_guard<std::mutex> g(lock_);
  if (started_) return 1;
  started_ = true;
  const bool x64 = os::windows_is_64bit();
  installer_path_ = executable_directory() + (x64 ? L"dpinst64.exe" : L"dpinst.exe");
  platform_ = x64 ? 2 : 1;
  if (!worker_.joinable()) {
    try {
      worker_ = std::thread(&CDriverManager::Body, this);
    } catch (const std::system_error&) {
      // Without a worker the requests wait and never run.
    }
  }
  return 1;
}

void CDriverManager::UnInit() {
  std::map<std::int32_t, DriverTask> dropped;
  {
    // Taken before stop_ is set, so that an installer being started is either registered (and
    // ended here) or never started.
    std::lock_guard<std::mutex> starting(start_lock_);
    std::lock_guard<std::mutex> g(lock_);
    dropped.swap(tasks_);
    stop_ = true;
    if (running_) running_->terminate();
  }
  wake_.notify_all();
}

std::int32_t CDriverManager::AddTask(DriverInstallCallback* callback,
                                     const std::wstring& package_path,
                                     const std::wstring& target_name, std::int32_t install_type,
                                     const std::vector<std::wstring>& arguments) {
  std::int32_t id = 0;
  {
    std::lock_guard<std::mutex> g(lock_);
    id = ++last_id_;
    DriverTask& t = tasks_[id];
    t.package_path = package_path;
    t.target_name = target_name;
    t.install_type = install_type;
    t.arguments = arguments;
    t.callback = callback;
    t.id = id;
  }
  wake_.notify_all();
  return id;
}

void CDriverManager::CancelTask(std::int32_t id) {
  std::lock_guard<std::mutex> g(lock_);
  tasks_.erase(id);
}

void CDriverManager::Body() {
  for (;;) {
    DriverTask task;
    {
      std::unique_lock<std::mutex> g(lock_);
      const auto next = TakeNextTask(g, wake_, stop_, tasks_);
      if (next == tasks_.end()) return;
      task = next->second;
    }
    const std::uint32_t code = Run(task);
    std::lock_guard<std::mutex> g(lock_);
    if (stop_) return;
    auto it = tasks_.find(task.id);
    if (it != tasks_.end()) it->second.exit_code = code;
    // Posted also for a request cancelled meanwhile; OnMessage then finds nothing. Posted under
    // the lock: nothing is posted once UnInit has returned.
    if (auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance())
      window->PostHandlerMessage(this, task.id);
  }
}

std::uint32_t CDriverManager::Run(const DriverTask& task) {
  const std::wstring temp = hostbase::GetTempDirectory();
  std::wstring folder = temp + L"driverDir\\" + PackageFolderName(task.package_path);
  if (temp.empty() || !os::make_dirs(folder)) folder.clear();
  if (folder.empty() || !hostbase::ExtractArchive(qv::text::wide_to_utf16(task.package_path),
                                                  qv::text::wide_to_utf16(folder)))
    return 0;
  const InstallCommand command = BuildInstallCommand(
      task.install_type, folder + L"\\" + task.target_name, installer_path_, task.arguments);
  if (!command.run) return 0;

  std::shared_ptr<os::installer_process> process;
  {
    // Once UnInit has asked the worker to stop, nothing is started.
    std::lock_guard<std::mutex> starting(start_lock_);
    {
      std::lock_guard<std::mutex> g(lock_);
      if (stop_) return 0;
    }
    process.reset(os::start_installer(task.install_type, command.file, command.parameters).release());
    if (!process) return 0;
    std::lock_guard<std::mutex> g(lock_);
    running_ = process;
  }
  process->wait();
  const std::uint32_t code = process->exit_code();
  std::lock_guard<std::mutex> g(lock_);
  running_.reset();
  return code;
}

void CDriverManager::OnMessage(qv::loop::lparam_t payload) {
  const auto id = static_cast<std::int32_t>(payload);
  DriverTask task;
  {
    std::lock_guard<std::mutex> g(lock_);
    auto it = tasks_.find(id);
    if (it == tasks_.end()) return;
    task = it->second;
    tasks_.erase(it);
  }
  // Forgotten before the call: the callback may add or cancel requests meanwhile.
  if (task.callback) task.callback->OnDriverResult(id, static_cast<std::int32_t>(task.exit_code));
}

}  // namespace tiv::android
