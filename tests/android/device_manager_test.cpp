// USB detection on fixture instance-id lists (the same on both targets): the database schema,
// matching by Names, PIDs and Modals, hubs, grouping, drive attachment, arrival and removal
// reports, and the one-second rescan after a burst of device changes.
#include "android/child_process.h"
#include "android/device_manager.h"
#include "hostbase/message_window.h"
#include "qv/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace tiv::android;

namespace {

const char* const kDb = R"(<?xml version="1.0" encoding="UTF-8"?>
<Db>
  <VIDs>
    <VID Value="18D1"><ProductId>google</ProductId>
      <PIDs>
        <Group><ProductId>pixel</ProductId><Value>4EE7</Value><Value>4EE2</Value></Group>
        <Group><ProductId>missing_device</ProductId><Value>4E11</Value></Group>
        <Group><ProductId>nexus</ProductId><Value>4E11</Value><Note>ignored</Note></Group>
      </PIDs>
      <Names>
        <Group><ProductId>broken</ProductId><Value>([unclosed</Value></Group>
        <Group><ProductId>missing_device</ProductId><Value>^GHOST</Value></Group>
        <Group><ProductId>pixel_dev</ProductId><Value>^DEV[0-9]+$</Value></Group>
      </Names>
      <Modals>
        <Group><ProductId>generic</ProductId><Value>File-Stor_Gadget</Value></Group>
      </Modals>
    </VID>
    <VID Value="04E8"><ProductId>samsung</ProductId>
      <PIDs><Group><ProductId>galaxy</ProductId><Value>6860</Value></Group></PIDs>
      <Modals><Group><ProductId>galaxy_card</ProductId><Value>GT-I9000_Card</Value></Group></Modals>
    </VID>
    <VID Value="2717"><ProductId>vendor_without_records</ProductId></VID>
    <VID><ProductId>no_value_attribute</ProductId></VID>
  </VIDs>
  <Devices>
    <Device><ProductId>pixel</ProductId><Brand>Google</Brand><Product>Pixel</Product>
      <Alias>P</Alias><Type>1</Type><LargeIconPath>pixel.png</LargeIconPath></Device>
    <Device><ProductId>pixel_dev</ProductId><Brand>Google</Brand><Product>Pixel dev</Product>
      <Type> 4x</Type></Device>
    <Device><ProductId>nexus</ProductId><Brand>Google</Brand><Product>Nexus</Product></Device>
    <Device><ProductId>generic</ProductId><Brand>Android</Brand><Product>Storage</Product>
      <LargeIconPath>generic.png</LargeIconPath></Device>
    <Device><ProductId>galaxy</ProductId><Brand>Samsung</Brand><Product>Galaxy</Product></Device>
    <Device><ProductId>galaxy_card</ProductId><Brand>Samsung</Brand><Product>Galaxy card</Product></Device>
    <Device><Brand>skipped: no ProductId</Brand></Device>
  </Devices>
</Db>)";

DeviceDatabase load() {
  DeviceDatabase db;
  EXPECT_TRUE(db.Parse(kDb));
  return db;
}

UsbDevice device(const std::wstring& id, const std::string& description = "USB Composite Device",
                 std::vector<std::wstring> children = {}) {
  return {id, description, std::move(children)};
}

}  // namespace

TEST(DeviceDatabaseSchema, ReadsGroupsDevicesAndReportsABadNameOnce) {
  DeviceDatabase db = load();
  ASSERT_EQ(db.vids().size(), 3u);  // the VID without "Value" is ignored
  const VidRecord& g = db.vids().at(L"18D1");
  EXPECT_EQ(g.product_id, L"google");
  ASSERT_EQ(g.pids.size(), 3u);
  EXPECT_EQ(g.pids[2].values, std::vector<std::wstring>{L"4E11"});
  EXPECT_EQ(g.modals[0].values, std::vector<std::wstring>{L"File-Stor_Gadget"});
  EXPECT_EQ(db.devices().size(), 6u);
  EXPECT_EQ(db.devices().at(L"pixel_dev").type, 4);  // _wtoi: blanks, digits, stop
  ASSERT_EQ(db.warnings().size(), 1u);
  EXPECT_NE(db.warnings()[0].find("([unclosed"), std::string::npos);

  DeviceDatabase bad;
  EXPECT_FALSE(bad.Parse("<Db><VIDs>"));
  EXPECT_TRUE(bad.vids().empty());
}

TEST(UsbMatching, InstanceIdsOfEveryShape) {
  const DeviceDatabase db = load();
  struct Case {
    const wchar_t* id;
    bool matches;
    const wchar_t* product_id;
    const wchar_t* serial;
  };
  const Case cases[] = {
      {L"USB\\VID_18D1&PID_4EE7\\0A1B2C3D", true, L"pixel", L"0A1B2C3D"},
      {L"USB\\VID_18D1&PID_4EE2\\X", true, L"pixel", L"X"},
      // Names come before PIDs; the invalid expression and the unknown device are passed over.
      {L"USB\\VID_18D1&PID_4EE7\\DEV42", true, L"pixel_dev", L"DEV42"},
      {L"USB\\VID_18D1&PID_9999\\DEV7", true, L"pixel_dev", L"DEV7"},
      {L"USB\\VID_18D1&PID_9999\\GHOST1", false, L"", L""},
      // A PID group that names an unknown device gives way to a later group with the same PID.
      {L"USB\\VID_18D1&PID_4E11\\S", true, L"nexus", L"S"},
      {L"USB\\VID_18D1&PID_4ee7\\S", false, L"", L""},  // PIDs compare exactly
      {L"USB\\VID_2717&PID_FF48\\S", false, L"", L""},  // a vid without records
      {L"USB\\VID_1234&PID_4EE7\\S", false, L"", L""},  // an unknown vid
      {L"HID\\NOTHING", false, L"", L""},
  };
  for (const Case& c : cases) {
    DeviceEntry e;
    EXPECT_EQ(MatchInstanceId(db, c.id, e), c.matches) << qv::text::wide_to_utf8(c.id);
    if (!c.matches) continue;
    EXPECT_EQ(e.product_id, c.product_id);
    EXPECT_EQ(e.serial, c.serial);
  }
}

TEST(UsbMatching, HubsAreReplacedByTheirChildren) {
  const std::vector<UsbDevice> devices = {
      device(L"USB\\ROOT_HUB30\\4&1&0&0", "USB Root Hub (USB 3.0)", {L"USB\\VID_05E3&PID_0610\\5&2"}),
      device(L"USB\\VID_05E3&PID_0610\\5&2", std::string("G\0e\0n\0e\0r\0i\0c\0 \0U\0S\0B\0 \0H\0u\0b\0", 30),
             {L"USB\\VID_18D1&PID_4EE7\\SER"}),
      device(L"USB\\VID_18D1&PID_4EE7\\SER"),
      device(L"USB\\VID_04E8&PID_6860\\R58M", "usb HUB lookalike", {}),
  };
  // The description counts by its single bytes, so the UTF-16 "Generic USB Hub" is a hub.
  EXPECT_EQ(ExpandHubs(devices),
            (std::vector<std::wstring>{L"USB\\VID_05E3&PID_0610\\5&2", L"USB\\VID_18D1&PID_4EE7\\SER",
                                       L"USB\\VID_18D1&PID_4EE7\\SER"}));
}

TEST(UsbMatching, GroupsByVidAndPidAndMatchesTheDeviceItself) {
  const DeviceDatabase db = load();
  const std::vector<std::wstring> ids = {
      L"USB\\VID_04E8&PID_6860\\R58M",
      L"USB\\VID_18D1&PID_4EE7\\ZZ2",
      L"USB\\VID_18D1&PID_4EE7&MI_01\\6&3A&0&0001",
      L"USB\\VID_18D1&PID_4EE7\\AA1",
      L"USB\\VID_18D1&PID_4EE7\\ZZ2",  // a hub's child seen twice
      L"USB\\VID_2717&PID_FF48\\NOREC",
  };
  const std::vector<DeviceEntry> entries = MatchUsbDevices(db, ids);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].product_id, L"galaxy");
  EXPECT_EQ(entries[0].usb_key, L"04E86860");
  const DeviceEntry& pixel = entries[1];
  EXPECT_EQ(pixel.product_id, L"pixel");
  EXPECT_EQ(pixel.brand, L"Google");
  EXPECT_EQ(pixel.alias, L"P");
  EXPECT_EQ(pixel.type, 1);
  EXPECT_EQ(pixel.large_icon_path, L"pixel.png");
  EXPECT_EQ(pixel.vid, L"18D1");
  EXPECT_EQ(pixel.pid, L"4EE7");
  EXPECT_EQ(pixel.usb_key, L"18D14EE7");
  // Two phones of one model: one entry, both ids sorted, duplicates gone; the interface id sorts
  // first, the first id of the device itself gives the serial.
  EXPECT_EQ(pixel.instance_ids,
            (std::vector<std::wstring>{L"USB\\VID_18D1&PID_4EE7&MI_01\\6&3A&0&0001",
                                       L"USB\\VID_18D1&PID_4EE7\\AA1", L"USB\\VID_18D1&PID_4EE7\\ZZ2"}));
  EXPECT_EQ(pixel.serial, L"AA1");
}

TEST(UsbMatching, DrivesJoinTheirPhoneOrBecomeModalsEntries) {
  const DeviceDatabase db = load();
  std::vector<DeviceEntry> entries =
      MatchUsbDevices(db, {L"USB\\VID_04E8&PID_6860\\R58M", L"USB\\VID_18D1&PID_4EE7\\AA1BC"});
  ASSERT_EQ(entries.size(), 2u);
  const std::vector<RemovableDrive> drives = {
      {L"E:\\", L"usbstor#disk&ven_google&prod_pixel&rev_0100#aa1bc&0"},  // serial, any case
      {L"F:\\", L""},                                                     // not on USB storage
      {L"G:\\", L"usbstor#disk&ven_linux&prod_file-stor_gadget&rev_0316#0123ABC&0"},
      {L"H:\\", L"usbstor#disk&ven_generic&prod_flash_disk&rev_8.07#77&0"},  // unknown product
      {L"I:\\", L"usbstor#disk&ven_samsung&prod_gt-i9000_card&rev_0100#R58M&0"},
  };
  AttachDrives(db, drives, entries);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].drives == std::vector<std::wstring>{L"I:\\"});
  EXPECT_TRUE(entries[1].drives == std::vector<std::wstring>{L"E:\\"});
  const DeviceEntry& storage = entries[2];
  EXPECT_EQ(storage.product_id, L"generic");
  EXPECT_EQ(storage.vid, L"18D1");
  EXPECT_EQ(storage.pid, L"");
  EXPECT_EQ(storage.usb_key, L"");
  EXPECT_TRUE(storage.instance_ids.empty());
  EXPECT_EQ(storage.serial, L"0123ABC");
  EXPECT_EQ(storage.large_icon_path, L"generic.png");
  EXPECT_TRUE(storage.drives == std::vector<std::wstring>{L"G:\\"});

  EXPECT_EQ(DrivesOfInstances(drives, {L"USB\\VID_X&PID_Y\\nomatch", L"USB\\VID_18D1&PID_4EE7\\AA1BC",
                                       L"USB\\VID_04E8&PID_6860\\r58m"}),
            (std::vector<std::wstring>{L"E:\\", L"I:\\"}));
  EXPECT_TRUE(DrivesOfInstances(drives, {}).empty());
  EXPECT_TRUE(DrivesOfInstances(drives, {L"USB\\VID_18D1&PID_4EE7\\"}).empty());  // empty serial
}

TEST(UsbMatching, ModalsLookupIgnoresCaseAndSkipsUnknownDevices) {
  const DeviceDatabase db = load();
  DeviceEntry e;
  ASSERT_TRUE(MatchStorageProduct(db, L"gt-i9000_CARD", e));
  EXPECT_EQ(e.product_id, L"galaxy_card");
  EXPECT_EQ(e.serial, L"galaxy_card");
  EXPECT_EQ(e.vid, L"04E8");
  EXPECT_EQ(e.pid, L"");
  EXPECT_FALSE(MatchStorageProduct(db, L"GT-I9000", e));
  EXPECT_FALSE(MatchStorageProduct(db, L"", e));
}

TEST(UsbMatching, ComparisonReportsArrivalsThenRemovalsByVidAndPid) {
  DeviceEntry a, b, c;
  a.vid = L"18D1"; a.pid = L"4EE7"; a.serial = L"ONE";
  b.vid = L"04E8"; b.pid = L"6860";
  c.vid = L"18D1"; c.pid = L"4EE7"; c.serial = L"OTHER";  // same pair as a: no change
  const auto changes = CompareScans({a, b}, {c});
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].change_type, 2);
  EXPECT_EQ(changes[0].vid, L"04E8");
  const auto back = CompareScans({c}, {b, a});
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].change_type, 1);
  EXPECT_EQ(back[0].pid, L"6860");
  EXPECT_TRUE(CompareScans({a}, {a}).empty());
}

// ---- The manager with the shipped database and a fixture source --------------------------

namespace {

struct FixtureSource : DeviceSource {
  std::vector<UsbDevice>* usb;
  std::vector<RemovableDrive>* drives;
  bool fail = false;
  FixtureSource(std::vector<UsbDevice>* u, std::vector<RemovableDrive>* d) : usb(u), drives(d) {}
  bool ListUsbDevices(std::vector<UsbDevice>& out) override {
    if (fail) return false;
    out = *usb;
    return true;
  }
  std::vector<RemovableDrive> ListRemovableDrives() override { return *drives; }
};

struct Recorder : DeviceManagerCallback {
  std::vector<DeviceChange> changes;
  void OnDeviceChange(const DeviceChange& c) override { changes.push_back(c); }
};

std::wstring stage_dir() { return executable_directory() + L"../../stage/"; }

// Runs the loop until done() holds or a generous deadline passes.
bool run_until(const std::function<bool()>& done) {
  struct State {
    const std::function<bool()>* done;
    int left;
  } s{&done, 6000};
  auto proc = [](void* user, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                 qv::loop::lparam_t lp) -> qv::loop::lresult_t {
    if (msg != qv::loop::kWmTimer) return qv::loop::default_window_proc(w, msg, wp, lp);
    auto* st = static_cast<State*>(user);
    if ((*st->done)() || st->left-- == 0) {
      qv::loop::kill_timer(w, wp);
      qv::loop::post_quit(0);
    }
    return 0;
  };
  if (done()) return true;
  qv::loop::window_spec spec;
  spec.class_name = L"TivorelUsbTestPump";
  qv::loop::window_handle w = qv::loop::create_window(spec, proc, &s);
  qv::loop::set_timer(w, 1, 5);
  qv::loop::run();
  qv::loop::destroy_window(w);
  return done();
}

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Create(L"TivorelUsbTestWindow"));
    manager.SetMessageWindow(&window);
    manager.SetProgramDir(stage_dir());
    manager.SetDeviceSource(std::make_unique<FixtureSource>(&usb, &drives));
  }
  void device_change(std::uintptr_t code) {
    qv::loop::send_message(window.window(), qv::loop::kWmDeviceChange, code, 0);
  }

  hostbase::CMessageWindow window;
  std::vector<UsbDevice> usb;
  std::vector<RemovableDrive> drives;
  Recorder recorder;
  CDeviceManager manager;
};

}  // namespace

TEST_F(ManagerTest, InitReportsEveryRecognisedDeviceOnceAndOnlyOnce) {
  usb = {device(L"USB\\VID_18D1&PID_4EE7\\0A1B2C3D"), device(L"USB\\VID_04E8&PID_6860\\R58M"),
         device(L"USB\\VID_FFFF&PID_0001\\UNKNOWN")};
  drives = {{L"E:\\", L"usbstor#disk&ven_google&prod_pixel&rev_0100#0a1b2c3d&0"}};
  ASSERT_EQ(manager.Init(&recorder), 0);
  ASSERT_EQ(recorder.changes.size(), 2u);
  const DeviceChange& pixel = recorder.changes[0];
  EXPECT_EQ(pixel.change_type, 1);
  EXPECT_EQ(pixel.product_id, L"google_pixel");
  EXPECT_EQ(pixel.serial, L"0A1B2C3D");
  EXPECT_EQ(pixel.usb_key, L"18D14EE7");
  EXPECT_TRUE(pixel.drives == std::vector<std::wstring>{L"E:\\"});
  EXPECT_EQ(recorder.changes[1].product_id, L"samsung_galaxy");
  EXPECT_EQ(manager.DrivesOfInstances({L"USB\\VID_18D1&PID_4EE7\\0A1B2C3D"}),
            std::vector<std::wstring>{L"E:\\"});
  DeviceEntry modal;
  EXPECT_TRUE(manager.MatchStorageProduct(L"file-stor_gadget", modal));

  // A second Init does nothing.
  EXPECT_EQ(manager.Init(&recorder), 0);
  EXPECT_EQ(recorder.changes.size(), 2u);
  EXPECT_EQ(manager.scan_count(), 1u);
}

TEST_F(ManagerTest, ABurstOfChangesLeadsToOneRescanAfterItsEnd) {
  usb = {device(L"USB\\VID_18D1&PID_4EE7\\A")};
  ASSERT_EQ(manager.Init(&recorder), 0);
  ASSERT_EQ(recorder.changes.size(), 1u);

  // Unplug and re-plug within the second, with an unrelated message in between: nothing to
  // report, one rescan.
  usb.clear();
  device_change(CDeviceManager::kDeviceRemoveComplete);
  device_change(0x0018);  // not a change that counts
  usb = {device(L"USB\\VID_18D1&PID_4EE7\\A")};
  device_change(CDeviceManager::kDeviceArrival);
  device_change(CDeviceManager::kDevNodesChanged);
  EXPECT_TRUE(manager.rescan_pending());
  EXPECT_EQ(manager.scan_count(), 1u);
  ASSERT_TRUE(run_until([&] { return manager.scan_count() > 1; }));
  EXPECT_FALSE(manager.rescan_pending());  // the timer removed itself: no further scan
  EXPECT_EQ(manager.scan_count(), 2u);
  EXPECT_EQ(recorder.changes.size(), 1u);

  // A removal is reported once the next rescan runs; a failed enumeration is an empty scan.
  auto failing = std::make_unique<FixtureSource>(&usb, &drives);
  failing->fail = true;
  manager.SetDeviceSource(std::move(failing));
  device_change(CDeviceManager::kDevNodesChanged);
  ASSERT_TRUE(run_until([&] { return manager.scan_count() > 2; }));
  ASSERT_EQ(recorder.changes.size(), 2u);
  EXPECT_EQ(recorder.changes[1].change_type, 2);
  EXPECT_EQ(recorder.changes[1].serial, L"A");

  // After UnInit, changes lead to nothing.
  manager.UnInit();
  device_change(CDeviceManager::kDeviceArrival);
  EXPECT_FALSE(manager.rescan_pending());
}

TEST_F(ManagerTest, ADatabaseThatDoesNotLoadFailsInitOnce) {
  manager.SetProgramDir(stage_dir() + L"Profiles\\");
  usb = {device(L"USB\\VID_18D1&PID_4EE7\\A")};
  EXPECT_NE(manager.Init(&recorder), 0);
  EXPECT_EQ(manager.scan_count(), 0u);
  EXPECT_EQ(manager.Init(&recorder), 0);  // stays started
  EXPECT_TRUE(recorder.changes.empty());
}

// The system's own devices (SetupAPI and volumes on Windows, sysfs and udev on Linux): whatever
// this machine has, the lists are well formed and a manager on them starts, scans and stops.
TEST(SystemSource, ListsAreWellFormedAndAManagerRunsOnThem) {
  auto source = MakeSystemDeviceSource();
  std::vector<UsbDevice> devices;
  const bool listed = source->ListUsbDevices(devices);
  if (!listed) {
    EXPECT_TRUE(devices.empty());
  }
  for (const UsbDevice& d : devices) {
    EXPECT_FALSE(d.instance_id.empty());
    for (const std::wstring& c : d.children) EXPECT_FALSE(c.empty());
  }
  for (const RemovableDrive& r : source->ListRemovableDrives()) {
    ASSERT_FALSE(r.root.empty());
    EXPECT_EQ(r.root.back(), L'\\');
    EXPECT_EQ(r.storage_path.compare(0, 7, L"usbstor"), 0) << qv::text::wide_to_utf8(r.storage_path);
  }
  std::printf("system: %s, %zu USB devices\n", listed ? "listed" : "no USB enumeration",
              devices.size());

  hostbase::CMessageWindow window;
  ASSERT_TRUE(window.Create(L"TivorelUsbSystemWindow"));
  Recorder recorder;
  {
    CDeviceManager manager;  // the system's source and, on Linux, the udev watcher
    manager.SetMessageWindow(&window);
    manager.SetProgramDir(stage_dir());
    ASSERT_EQ(manager.Init(&recorder), 0);
    EXPECT_EQ(manager.scan_count(), 1u);
    EXPECT_EQ(recorder.changes.size(), manager.current().size());
    for (const DeviceChange& c : recorder.changes) EXPECT_EQ(c.change_type, 1);
  }
  window.Destroy();
}
