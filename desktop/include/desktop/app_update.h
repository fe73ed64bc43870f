// Installing a downloaded update package of the program itself.
#pragma once

#include <string>

namespace desktop {

// Extracts `archive` into `temp_dir` + "Update\" (emptied first) and carries out its
// "updatelist.xml" against `install_dir` (both Windows path text with a trailing separator):
// the files of "DeleteFileList" are deleted, then the "FileList" pairs are copied in ascending
// order of `src`; an existing target is replaced through "<target>.tmp". Entries whose `src` or
// `dest` is absolute, names a drive or climbs with ".." are skipped and logged, so an update
// never writes outside the installation. Nothing is installed, and the answer is false, when the
// archive does not extract whole, the list cannot be read or a listed file is missing. Once
// installing has begun each file operation stands alone: a failure does not stop the others.
bool InstallUpdate(const std::u16string& archive, const std::u16string& temp_dir,
                   const std::u16string& install_dir);

}  // namespace desktop
