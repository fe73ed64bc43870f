// Shutdown of the shell objects, one function per object; ReleaseShellObjects calls them all.
#pragma once

namespace desktop {

void ReleaseTray();
void ReleaseDragDropShell();

}  // namespace desktop
