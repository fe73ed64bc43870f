// The operating-system side of "IconManager.Manager": the shell's icons.
#pragma once

#include "desktop/icon_imager.h"

#include <memory>
#include <string>

namespace desktop::os {

// The icon the shell shows for the path: for an ".exe" the file's own first large icon (the
// shell's large icon of the path when it has none), else the shell's icon of the extension alone
// as a normal file, without opening it. Null when there is none.
std::unique_ptr<IconSource> shell_icon(const std::wstring& path, bool large);

}  // namespace desktop::os
