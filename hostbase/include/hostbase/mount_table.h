// The system's mount table ("/proc/self/mounts"), read once for USB drive detection and for the
// disk utilities. Fields are separated by blanks and write a blank, tab, newline or "\" inside
// a field as an octal escape ("\040"), which the reading undoes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostbase {

struct MountEntry {
  std::string device;       // "/dev/sdb1", "tmpfs", ...
  std::string mount_point;  // the folder, escapes undone
  std::string type;         // "vfat", "ext4", ...
};

// The entries of the table's text in their order; lines with fewer than three fields are
// passed over.
std::vector<MountEntry> ParseMountTable(std::string_view text);
// The same for a file; empty when it cannot be read.
std::vector<MountEntry> ReadMountTable(const std::string& file);

// The mount that holds an absolute path without links: the longest mount point that is the
// path or one of its parents, the last listed among equals (a later mount hides an earlier one).
// Null when none does.
const MountEntry* MountHolding(const std::vector<MountEntry>& table, const std::string& path);

}  // namespace hostbase
