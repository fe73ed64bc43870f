// Command-line switches ("-name", "/name", "-name:value", "-name:\"quoted value\"") and the
// command lines that later starts of the program forward through the single-instance block.
#pragma once

#include "hostbase/shared_blocks.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qv::win32::multiprocess {
class share_memory;
}

namespace desktop {

// The block that later starts write their command lines into.
using hostbase::kInstanceBlockName;

// Name -> value, first occurrence wins.
using SwitchMap = std::map<std::u16string, std::u16string>;

// Every switch of a whole command line. The program, its first argument, is skipped: a path such
// as "/opt/tivorel/tivorel" or "C:\my-apps\tivorel.exe" names no switch. In the arguments, a "-"
// or "/" starts a switch wherever the scan meets it outside a quoted value.
SwitchMap ParseSwitches(const std::u16string& line);

// The start type: the "type" switch read as a decimal integer and cut to 8 bits; 1 without one.
std::uint8_t StartTypeOf(const SwitchMap& switches);

// Takes every command line out of the block: waits for its mutex, reads the NUL-terminated
// UTF-16LE lines up to the first empty one, zeroes the whole data area and releases the mutex.
// Nothing when the block is closed.
std::vector<std::u16string> TakeForwardedCommandLines(qv::win32::multiprocess::share_memory& block);

}  // namespace desktop
