// Installing a downloaded update package of the program itself.
#pragma once

#include <string>

namespace desktop {

// Extracts `archive` into `temp_dir` + "Update\" (emptied first) and carries out its
// "updatelist.xml" against `install_dir` (both Windows path text with a trailing separator):
// the files of "DeleteFileList" are deleted, then the "FileList" pairs are copied in ascending
// order of `src`; an existing target is replaced through "<target>.tmp".
//
// Only an authentic package is installed (see desktop/update_package.h): its list signed by a
// key of `install_dir` + "Profiles\update_keys.txt", every listed file matching its digest, no
// target outside the installation and nothing unlisted in the package. Anything else, an
// archive that does not extract whole included, is refused before the installation changes:
// the answer is false and the reason is logged for the user. Once installing has begun each
// file operation stands alone: a failure does not stop the others.
bool InstallUpdate(const std::u16string& archive, const std::u16string& temp_dir,
                   const std::u16string& install_dir);

}  // namespace desktop
