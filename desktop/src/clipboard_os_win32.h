// A seam of the Windows clipboard writer, for tests that need the system to refuse new data
// after the clipboard was emptied for it (short of memory, or opened without an owner window).
#pragma once

#include <windows.h>

namespace desktop::os::testing {

// The call that puts new data on the emptied clipboard; ::SetClipboardData in the program.
extern HANDLE(WINAPI* set_clipboard_data)(UINT format, HANDLE data);

}  // namespace desktop::os::testing
