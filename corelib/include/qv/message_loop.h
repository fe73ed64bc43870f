// The UI thread's message loop and its windows, with one contract on both targets.
//
// Windows: real (hidden) windows with window procedures, PostMessageW, SetTimer and
// GetMessageW/DispatchMessageW. POSIX: the same contract on Boost.Asio; a window is an entry
// with a window procedure registered with the loop. On both, posting is thread-safe, messages
// for a destroyed window are dropped, and every window procedure runs on the loop's thread.
#pragma once

#include <cstdint>
#include <string>

namespace qv::loop {

using window_handle = void*;  // an HWND on Windows
using wparam_t = std::uintptr_t;
using lparam_t = std::intptr_t;
using lresult_t = std::intptr_t;

// Message numbers, the same values as the Windows ones so that shared code can use either.
constexpr unsigned kWmQueryEndSession = 0x0011;
constexpr unsigned kWmQuit = 0x0012;
constexpr unsigned kWmTimer = 0x0113;
constexpr unsigned kWmDeviceChange = 0x0219;
constexpr unsigned kWmUser = 0x0400;

// The window procedure: called on the loop's thread with the user pointer given at creation.
using window_proc = lresult_t (*)(void* user, window_handle, unsigned msg, wparam_t, lparam_t);

// How a window looks on Windows; the POSIX loop has no visible windows and ignores all but names.
struct window_spec {
  std::wstring class_name;
  std::wstring title;
  unsigned long style = 0x80000000UL;  // WS_POPUP
  unsigned long ex_style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  bool desktop_parent = false;  // parent is the desktop window (else none)
  bool class_icon_and_cursor = false;  // load icon 32516 and cursor 32515 for the class
  bool redraw_styles = false;  // CS_HREDRAW | CS_VREDRAW
  bool dark_grey_background = false;
};

// Creates a window on the calling thread (the loop's thread). Never shown. Null on failure.
window_handle create_window(const window_spec& spec, window_proc proc, void* user);
// Destroys a window; later messages to it are dropped. False if it was not a window.
bool destroy_window(window_handle w);
bool is_window(window_handle w);

// Thread-safe. False when the window does not exist.
bool post_message(window_handle w, unsigned msg, wparam_t wp, lparam_t lp);
// Calls the window procedure at once (loop thread only). 0 for an unknown window.
lresult_t send_message(window_handle w, unsigned msg, wparam_t wp, lparam_t lp);
// What a window procedure returns for messages it does not handle.
lresult_t default_window_proc(window_handle w, unsigned msg, wparam_t wp, lparam_t lp);

// Periodic timer delivering kWmTimer with wParam = id; setting an existing id restarts it.
bool set_timer(window_handle w, std::uintptr_t id, unsigned period_ms);
bool kill_timer(window_handle w, std::uintptr_t id);

// Ends run() with the given exit code once the messages queued before it are handled.
void post_quit(int exit_code);
// Runs the loop on the calling thread until the quit message; returns its exit code.
int run();

}  // namespace qv::loop
