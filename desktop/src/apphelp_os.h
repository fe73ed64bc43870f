// The operating-system side of "AppHelp.Object". Paths are Windows path text (either separator).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace desktop::os {

// This process's whole command line, program path included, as the system reports it (on
// POSIX rebuilt from the arguments with the Windows quoting rules).

// Replaces `target` with `bytes` so that a reader sees the old file or the new one whole: the
// bytes go to "<target>.tmp", are flushed to the disk, and the temporary file then takes the
// target's place.
bool write_file_atomic(const std::u16string& target, const std::string& bytes);

// Creates the file or truncates it to zero length (read/write, shared for reading and writing).
bool create_empty_file(const std::u16string& path);

// Puts `replacement` in the place of `target` with write-through (the replacement's name is
// gone afterwards). False when the system refuses.
bool replace_file(const std::u16string& replacement, const std::u16string& target);
// Moves the complete file `source` to `target`, which does not exist yet, with write-through.
bool place_new_file(const std::u16string& source, const std::u16string& target);
// Asks the system to move `source` onto `target` at the next restart. False where the system
// has no such thing (POSIX).
bool move_at_restart(const std::u16string& source, const std::u16string& target);

// The system's statistical test for UTF-16 little-endian text without a byte-order mark, as the
// contact CSV reader uses it.
bool looks_like_utf16(const std::string& bytes);

// Local time of the moment; false when the system cannot say.
bool local_time(std::tm& out);

// The icon of resource `icon_id` of the executable as the small icon of `window` (Windows; a
// no-op elsewhere).
void set_app_icon(void* window, int icon_id);

}  // namespace desktop::os
