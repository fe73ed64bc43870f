// The shell objects of the Lua user interface: "Tray.Manager" (the notification-area icon),
// "Qorvan.UIEngine.DragDropShell" (files, text and links dropped on the UI's windows) and
// "ClipBoardData.Manager" (text and file lists on the clipboard). UI thread only.
//
// Where the system has no tray, drag and drop or clipboard (the Linux port for now), every
// method gives its failure result: an empty string, a file table with only "type" = 5, and no
// listener is ever called.
#pragma once

#include "qv_engine.h"

#include "qv/message_loop.h"

namespace desktop {

// The message the shell sends to the tray's window for mouse and keyboard actions on the icon.
constexpr unsigned kTrayMessage = qv::loop::kWmUser + 10;  // 0x40A
// The executable's icon resource shown by CreateNotifyTray.
constexpr int kTrayIconResource = 128;

void RegisterTray(QVLRT_ENV env);
void RegisterDragDropShell(QVLRT_ENV env);
void RegisterClipboard(QVLRT_ENV env);

// Shutdown, before the message window goes: deletes the tray icon and its window, revokes every
// drop target, lets the listeners go and empties the icon cache.
void ReleaseShellObjects();

// The tray's hidden window, null until "Tray.Manager" is first used.
qv::loop::window_handle TrayWindow();
// The drop target the shell registers for windows (an IDropTarget* on Windows, null where there
// is none), so that tests can drag their own data objects onto it.
void* DropTargetInterface();

}  // namespace desktop
