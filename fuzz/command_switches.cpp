// Command-line switches of the program and of the command lines later starts forward.
#include "desktop/command_switches.h"
#include "fuzz_check.h"
#include "qv/text.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string line = qv::text::utf8_to_utf16(reinterpret_cast<const char*>(data), size);
  const desktop::SwitchMap switches = desktop::ParseSwitches(line);
  for (const auto& [name, value] : switches) {
    FUZZ_CHECK(name.size() <= line.size());
    FUZZ_CHECK(value.size() <= line.size());
  }
  (void)desktop::StartTypeOf(switches);
  return 0;
}
