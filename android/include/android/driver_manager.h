// USB driver installation: a queue of requests run one at a time on a worker thread. Each
// request unpacks a driver package (an archive) into its own folder under the temporary folder
// and runs the matching installer there, hidden, waiting for it to end; the installer's exit
// code goes back unchanged to the request's callback on the UI thread.
#pragma once

#include "hostbase/message_window.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tiv::android {

namespace os {
class installer_process;
}

enum DriverInstallType : std::int32_t {
  kInstallRunTarget = 1,      // run the unpacked file itself
  kInstallDriverPackage = 2,  // the driver installer on an inf file
  kInstallWindowsInstaller = 3,  // msiexec /i on an installer database
};

// Receives a request's result on the UI thread.
class DriverInstallCallback {
 public:
  virtual void OnDriverResult(std::int32_t id, std::int32_t exit_code) = 0;

 protected:
  ~DriverInstallCallback() = default;
};

struct DriverTask {
  std::wstring package_path;
  std::wstring target_name;
  std::int32_t install_type = 0;
  std::vector<std::wstring> arguments;
  DriverInstallCallback* callback = nullptr;  // not owned
  std::int32_t id = 0;
  bool taken = false;
  std::uint32_t exit_code = 0;
};

// What is started for a request. run is false for an unknown install type.
struct InstallCommand {
  bool run = false;
  std::wstring file;
  std::wstring parameters;
};

// Each quoted item is wrapped in double quotes; type 2 separates its items by two blanks.
InstallCommand BuildInstallCommand(std::int32_t install_type, const std::wstring& target_path,
                                   const std::wstring& installer_path,
                                   const std::vector<std::wstring>& arguments);

// The package file's name without its extension: the name of its working folder.
std::wstring PackageFolderName(const std::wstring& package_path);

struct DriverUrl {
  std::wstring package;
  std::wstring target;
  std::int32_t install_type;
};
// The driver package for the installer platform (1: 32-bit "dpinst.exe", 2: "dpinst64.exe").
DriverUrl DriverUrlFor(std::int32_t platform);

class CDriverManager : public hostbase::MessageHandler {
 public:
  CDriverManager();
  ~CDriverManager() override;  // UnInit
  CDriverManager(const CDriverManager&) = delete;
  CDriverManager& operator=(const CDriverManager&) = delete;

  // Picks the installer and starts the worker; 1. Only the first call does anything.
  int Init();
  // Forgets every request (no result is delivered), ends a running installer and asks the
  // worker to stop; no installer starts afterwards. Does not wait for the worker (the
  // destructor does).
  void UnInit();

  std::int32_t AddTask(DriverInstallCallback* callback, const std::wstring& package_path,
                       const std::wstring& target_name, std::int32_t install_type,
                       const std::vector<std::wstring>& arguments);
  // Forgets the request; an installer already running goes on, its result is dropped.
  void CancelTask(std::int32_t id);

  // 1 for "dpinst.exe", 2 for "dpinst64.exe" (64-bit Windows, whatever this program's own
  // architecture); 0 before Init.
  std::int32_t platform() const { return platform_; }
  const std::wstring& installer_path() const { return installer_path_; }

  void OnMessage(qv::loop::lparam_t id) override;

 private:
  void Body();
  std::uint32_t Run(const DriverTask& task);

  std::mutex lock_;
  // Held by the worker while it decides on and starts an installer, and by UnInit while it
  // stops: an installer is never started after UnInit.
  std::mutex start_lock_;
  std::condition_variable wake_;
  std::map<std::int32_t, DriverTask> tasks_;
  std::int32_t last_id_ = 0;
  std::shared_ptr<os::installer_process> running_;
  std::wstring installer_path_;
  std::int32_t platform_ = 0;
  bool started_ = false;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace tiv::android
