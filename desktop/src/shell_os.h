// The operating-system side of "Win32Shell.Object". Paths are Windows path text (either
// separator). Where a system has nothing of the kind, a function gives the failure value it
// names, never a made-up success.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace desktop::os {

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t tick_count();

// The system's folder for temporary files, ending with a separator; "" when unknown.
std::wstring temp_dir();

// ---- files (paths are never empty here) --------------------------------------------------------

// Renames or moves a file or folder; an existing target is not replaced.
bool rename_path(const std::wstring& from, const std::wstring& to);
// Deletes a file (not a folder; a link is deleted as a link).
bool delete_file(const std::wstring& path);
// Copies a file's content, replacing an existing destination file.
bool copy_file(const std::wstring& from, const std::wstring& to);
// The names (no folder) of the entries of `folder` matching `pattern` ("*" and "?"; may hold a
// folder part of its own), in the system's listing order, without "." and "..".
std::vector<std::wstring> matching_names(const std::wstring& folder, const std::wstring& pattern);

// ---- starting things ---------------------------------------------------------------------------

enum class open_result { ok, not_found, no_program, failed };

// Opens a file, folder or address with the system's "open" action in a normal window. Returns
// without waiting for what it started.
open_result shell_open(const std::wstring& target);
// Offers the system's choice of a program for the file (Windows); nothing elsewhere.
void choose_program(const std::wstring& file);
// The shell operation `verb` ("" for the default) on `file` with the parameters, in the
// working folder (may be empty), with the window show state. True when it was started.
bool shell_execute(std::uintptr_t window, const std::wstring& verb, const std::wstring& file,
                   const std::wstring& parameters, const std::wstring& directory, int show);

// ---- user interface ----------------------------------------------------------------------------

struct file_dialog_request {
  bool open = true;
  bool multiple = false;
  std::wstring filter;  // description and pattern pairs, "|" between all parts
  std::wstring default_extension;
  std::wstring file_name;
  bool has_default_extension = false;
  bool has_file_name = false;
};
// The chosen paths; none when cancelled or when the system has no such dialog.
std::vector<std::wstring> file_dialog(const file_dialog_request& request);
// The chosen folder; "" when cancelled or when the system has no such dialog. `start` is the
// folder to select first ("" for none).
std::wstring folder_dialog(const std::wstring& title, const std::wstring& start);
// The pressed button: 6 (Yes) or 7 (No). Where the system cannot ask, the answer is No and the
// caption and text go to the log.
int message_box(std::uintptr_t window, const std::wstring& caption, const std::wstring& text);

bool cursor_pos(int& x, int& y);
bool work_area(int x, int y, int& left, int& top, int& right, int& bottom);
bool screen_size(int& width, int& height);
// Whether the key is down now (the thread's key state).
bool key_down(int virtual_key);
// Whether the system's asynchronous key state is not zero.
bool async_key_state(int virtual_key);
// The key state as the system reports it; 0 where there is none.
int key_state(int virtual_key);
void show_cursor(bool show);

// 1: the foreground window covers the screen; 0: it does not; -1: no answer (the desktop itself,
// the shell's own full-screen windows, or a system that cannot tell).
int full_screen_state();

// ---- system ------------------------------------------------------------------------------------

// Announces a change of file associations to the shell.
void refresh_icons();
// Restarts the machine, forcing applications to close, when the shutdown privilege can be had.
void reboot();
// Whether this 32-bit process runs on 64-bit Windows.
bool is_wow64();

struct process_entry {
  std::wstring path;
  std::uint32_t id = 0;
};
// The processes whose program file can be read, in the system's order.
std::vector<process_entry> process_list();
// Ends the process (pid > 0) at once.
void terminate_process(std::uint32_t pid, std::uint32_t exit_code);

// ---- registry: roots are 0 HKEY_CURRENT_USER, 1 HKEY_CLASSES_ROOT, 2 HKEY_LOCAL_MACHINE,
// 3 HKEY_USERS, 4 HKEY_CURRENT_CONFIG. Every function fails where there is no registry. ---------

bool reg_create_key(int root, const std::wstring& key);
// Deletes the key with its subkeys and values (key names a subkey); true when nothing of it is
// left, also when it was not there.
bool reg_delete_key(int root, const std::wstring& key);
bool reg_set_dword(int root, const std::wstring& key, const std::wstring& name, std::uint32_t v);
bool reg_set_string(int root, const std::wstring& key, const std::wstring& name,
                    const std::wstring& v);

struct reg_value {
  enum kind_t { none, dword, string } kind = none;
  std::uint32_t number = 0;
  std::wstring text;
};
reg_value reg_query(int root, const std::wstring& key, const std::wstring& name);
// True when the key cannot be opened (nothing to delete) or the value was deleted.
bool reg_delete_value(int root, const std::wstring& key, const std::wstring& name);

}  // namespace desktop::os
