// Shell icons are not in the Linux port: there is never an icon, so the manager gives nil.
#include "icon_os.h"

namespace desktop::os {

std::unique_ptr<IconSource> shell_icon(const std::wstring&, bool) { return nullptr; }

}  // namespace desktop::os
