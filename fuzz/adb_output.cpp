// What the ADB client and the packaging tool print: the device list, the result codes of every
// command kind, the badging report and the listening-socket lines.
#include "android/adb_output.h"
#include "android/process_output.h"
#include "fuzz_check.h"
#include "qv/text.h"

#include <cstdint>
#include <string>

using namespace tiv::android;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = qv::text::utf8_to_wide(reinterpret_cast<const char*>(data), size);

  for (const adb_device& d : parse_device_list(text)) {
    FUZZ_CHECK(!d.serial.empty());
    // Substring tests, as the listing is read.
    FUZZ_CHECK(d.serial.find(L"emulator") == std::wstring::npos);
    FUZZ_CHECK(d.state.find(L"device") != std::wstring::npos ||
               d.state.find(L"offline") != std::wstring::npos);
  }
  for (int kind = kAdbFreeForm; kind <= kAdbBroadcast + 1; ++kind) {
    const int code = result_code(kind, text);
    if (kind >= kAdbInstall && kind <= kAdbBroadcast)
      FUZZ_CHECK(code == kAdbSuccess || code == kAdbFailure ||
                 (code >= kAdbInsufficientStorage && code <= kAdbMediaUnavailable));
    else
      FUZZ_CHECK(code == 0);
  }
  (void)contains_ignoring_case(text, L"error");
  (void)ParseBadging(text);
  if (auto pid = ParseAdbPortOwner(text)) FUZZ_CHECK(*pid >= 0);
  return 0;
}
