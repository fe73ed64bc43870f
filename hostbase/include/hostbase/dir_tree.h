// Deleting a folder with everything in it. One rule for every caller (the work item that deletes
// a folder and the filesystem utilities): links are removed as links and never followed, every
// file loses its read-only protection before it is deleted except "Thumbs.db" (any case), which
// the shell keeps open and protected on purpose and is left as it is when it resists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostbase {

// The thread's last error after DeleteDirTree was given no folder.
constexpr std::uint32_t kDirTreeInvalidArgument = 20100001;

// Deletes the folder and its content; "\" and "/" both separate. True when the folder is gone
// afterwards. An empty path, or one that is not an existing folder (a file, a link, nothing),
// sets the thread's last error to kDirTreeInvalidArgument and gives false without deleting.
bool DeleteDirTree(const std::wstring& path);
// Removes an empty folder; "\" and "/" both separate and a trailing separator is allowed. False
// when it is not there, not empty or cannot be removed.
bool DeleteEmptyDir(const std::wstring& path);

// One entry of a folder listing, as the system reports it without following links.
struct DirEntry {
  std::wstring name;
  bool is_dir = false;       // a real folder, never a link to one
  bool is_link = false;      // a symbolic link or junction
  bool link_to_dir = false;  // a link that the system removes as a folder (Windows junctions)
  bool target_is_dir = false;  // a link whose target is a folder now
  std::uint64_t size = 0;    // bytes of a plain file (0 for folders and links)
};

// The folder's entries without "." and "..", in the system's order; "\" and "/" both separate.
// False when the folder cannot be listed.
bool ListDir(const std::wstring& dir, std::vector<DirEntry>& out);
// The same for a folder in the system's own form, as qv::path::join_native builds it from the
// names listed: only the system's separator separates (on POSIX "\" belongs to a name).
bool ListNativeDir(const std::wstring& native_dir, std::vector<DirEntry>& out);

}  // namespace hostbase
