// What the stock ADB client's output means for each kind of command the Lua surface queues.
// Pure text functions, so that the meaning is tested without Lua or a device.
#pragma once

#include <string>
#include <vector>

namespace tiv::android {

// Kinds of command, numbered as the Lua surface stores them.
enum adb_kind : int {
  kAdbFreeForm = 0,
  kAdbDevices = 1,
  kAdbStartServer = 2,
  kAdbKillServer = 3,
  kAdbInstall = 4,
  kAdbUninstall = 5,
  kAdbStartActivity = 6,
  kAdbForward = 7,
  kAdbBroadcast = 8,
};

// Result codes handed to Lua.
constexpr int kAdbSuccess = 5;
constexpr int kAdbFailure = 4;
constexpr int kAdbInsufficientStorage = 2000;
constexpr int kAdbInvalidApk = 2001;
constexpr int kAdbOlderSdk = 2002;
constexpr int kAdbCannotFind = 2003;
constexpr int kAdbMediaUnavailable = 2004;

// Substring test after lowering ASCII letters of both sides; an empty text or an empty pattern
// never contains anything.
bool contains_ignoring_case(const std::wstring& text, const std::wstring& pattern);

// install / uninstall: 5, one of 2000..2004, or 4.
int install_result(const std::wstring& output);
// activity start / port forward: 4 when the output mentions "error", else 5.
int error_word_result(const std::wstring& output);
// broadcast: 5 when the answer holds "result=0", else 4.
int broadcast_result(const std::wstring& output);
// The code for kinds 4..8; kinds without a code give 0.
int result_code(int kind, const std::wstring& output);

struct adb_device {
  std::wstring serial;
  std::wstring state;
  bool operator==(const adb_device& o) const { return serial == o.serial && state == o.state; }
};

// The "devices" listing: one entry per line whose first two words are a serial and a state,
// leaving out emulators and states other than "device" / "offline" (the header line falls out
// the same way). Order of the lines is kept.
std::vector<adb_device> parse_device_list(const std::wstring& output);

}  // namespace tiv::android
