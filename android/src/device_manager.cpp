#include "android/device_manager.h"

#include "android/device_database.h"
#include "hostbase/path_manager.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"
#include "usb_os.h"

#include <cstdio>

using namespace tiv::android;

namespace {
constexpr long kOk = 0;
constexpr long kFail = static_cast<long>(0x80004005L);  // E_FAIL

// The system's devices, through this system's layer.
class SystemDeviceSource : public DeviceSource {
 public:
  bool ListUsbDevices(std::vector<UsbDevice>& out) override { return os::ListUsbDevices(out); }
  std::vector<RemovableDrive> ListRemovableDrives() override {
    return os::ListRemovableDrives();
  }
};

// A database problem goes where the other diagnostics of the program go: standard error and
// "engine.log" in the temporary folder.
void log_line(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  const std::wstring dir = hostbase::GetTempDirectory();
  if (!dir.empty()) os::AppendToFile(dir + L"engine.log", text + "\n");
}
}  // namespace

std::unique_ptr<DeviceSource> tiv::android::MakeSystemDeviceSource() {
  return std::make_unique<SystemDeviceSource>();
}

struct CDeviceManager::Monitor {
  std::unique_ptr<os::ChangeMonitor> impl;
};

CDeviceManager::CDeviceManager() = default;

CDeviceManager::~CDeviceManager() {
  StopMonitor();
  if (hostbase::CMessageWindow* w = window()) {
    if (timer_id_ != kNoTimer) w->RemoveTimer(timer_id_);
    if (registered_) w->RemoveListener(registration_);
  }
}

hostbase::CMessageWindow* CDeviceManager::window() const {
  return window_ ? window_ : qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
}

void CDeviceManager::SetDeviceSource(std::unique_ptr<DeviceSource> source) {
  source_ = std::move(source);
}

DeviceSource& CDeviceManager::source() {
  if (!source_) source_ = MakeSystemDeviceSource();
  return *source_;
}

long CDeviceManager::Init(DeviceManagerCallback* callback) {
  if (started_) return kOk;
  started_ = true;
  callback_ = callback;
  if (hostbase::CMessageWindow* w = window()) {
    registration_ = w->AddDeviceChangeListener(this);
    registered_ = true;
  }
  const std::wstring dir = program_dir_.empty() ? hostbase::GetModuleDir() : program_dir_;
  const std::string document = LoadDeviceDatabaseDocument(dir);
  if (document.empty() || !db_.Parse(document)) {
    log_line("device database: cannot load it from the ADB client in " +
             qv::text::wide_to_utf8(dir));
    return kFail;
  }
  for (const std::string& w : db_.warnings()) log_line(w);
  // Only the system's own devices change by themselves; a fixture source never does.
  if (!source_) StartMonitor();
  Rescan();
  return kOk;
}

void CDeviceManager::UnInit() {
  hostbase::CMessageWindow* w = window();
  if (w && registered_) w->RemoveListener(registration_);
  registered_ = false;
  // A rescan already armed would report after the caller asked for silence.
  if (w && timer_id_ != kNoTimer) w->RemoveTimer(timer_id_);
  timer_id_ = kNoTimer;
  StopMonitor();
}

void CDeviceManager::StartMonitor() {
  hostbase::CMessageWindow* w = window();
  if (!w || !w->window() || monitor_) return;
  auto impl = os::StartChangeMonitor(w->window());
  if (impl) monitor_.reset(new Monitor{std::move(impl)});
}

void CDeviceManager::StopMonitor() { monitor_.reset(); }

bool CDeviceManager::MatchStorageProduct(const std::wstring& product, DeviceEntry& entry) const {
  return tiv::android::MatchStorageProduct(db_, product, entry);
}

std::vector<std::wstring> CDeviceManager::DrivesOfInstances(
    const std::vector<std::wstring>& instance_ids) {
  if (instance_ids.empty()) return {};
  return tiv::android::DrivesOfInstances(source().ListRemovableDrives(), instance_ids);
}

void CDeviceManager::OnWindowMessage(hostbase::WindowMessage& record) {
  if (record.message != qv::loop::kWmDeviceChange) return;
  if (record.wparam != kDevNodesChanged && record.wparam != kDeviceArrival &&
      record.wparam != kDeviceRemoveComplete)
    return;
  hostbase::CMessageWindow* w = window();
  if (!w) return;
  // Each change pushes the rescan back: a burst leads to one rescan a second after its end.
  if (timer_id_ != kNoTimer) w->RemoveTimer(timer_id_);
  timer_id_ = w->SetFunctionTimer(&CDeviceManager::OnRescanTimer,
                                  reinterpret_cast<std::uintptr_t>(this));
}

void CDeviceManager::OnRescanTimer(std::uintptr_t self) {
  auto* m = reinterpret_cast<CDeviceManager*>(self);
  if (hostbase::CMessageWindow* w = m->window()) {
    if (m->timer_id_ != kNoTimer) w->RemoveTimer(m->timer_id_);
  }
  m->timer_id_ = kNoTimer;
  m->Rescan();
}

void CDeviceManager::Rescan() {
  ++scan_count_;
  previous_ = current_;
  std::vector<UsbDevice> devices;
  if (!source().ListUsbDevices(devices)) devices.clear();
  current_ = MatchUsbDevices(db_, ExpandHubs(devices));
  AttachDrives(db_, source().ListRemovableDrives(), current_);
  const std::vector<DeviceChange> changes = CompareScans(previous_, current_);
  if (!callback_) return;
  for (const DeviceChange& c : changes) callback_->OnDeviceChange(c);
}
