// The volume (file system) that holds a path, for the shell's free-space query and the disk
// utilities. A path that does not exist yet is answered for by its nearest existing parent, the
// folder it would be created in; "\" and "/" both separate. A removable drive without a medium
// gives a failure, never the system's error box.
#pragma once

#include <cstdint>
#include <string>

namespace hostbase {

// Total bytes and bytes available to the caller; false when nothing of the path exists or the
// volume cannot be queried.
bool VolumeSpace(const std::wstring& path, std::uint64_t& total, std::uint64_t& available);
// The file system's name ("NTFS", "ext4", "vfat"); empty when unknown.
std::wstring VolumeFormat(const std::wstring& path);

}  // namespace hostbase
