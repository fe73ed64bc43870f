#include "shell_os.h"

#include "shell_helpers.h"

#include <windows.h>
// After windows.h:
#include <commdlg.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <vector>

namespace desktop::os {
namespace {

std::wstring native(std::wstring s) {
  for (auto& c : s)
    if (c == L'/') c = L'\\';
  return s;
}

// Closes a kernel handle when it goes out of scope.
struct handle_holder {
  HANDLE h;
  ~handle_holder() {
    if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};
struct find_holder {
  HANDLE h;
  ~find_holder() {
    if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
  }
};
struct key_holder {
  HKEY k = nullptr;
  ~key_holder() {
    if (k) ::RegCloseKey(k);
  }
};

HKEY root_key(int root) {
  switch (root) {
    case 0:
      return HKEY_CURRENT_USER;
    case 1:
      return HKEY_CLASSES_ROOT;
    case 2:
      return HKEY_LOCAL_MACHINE;
    case 3:
      return HKEY_USERS;
    case 4:
      return HKEY_CURRENT_CONFIG;
    default:
      return nullptr;
  }
}

int shell_code(HINSTANCE h) { return static_cast<int>(reinterpret_cast<INT_PTR>(h)); }

// CoTaskMemFree for what the folder browser hands back.
struct item_list_holder {
  PIDLIST_ABSOLUTE p;
  ~item_list_holder() {
    if (p) ::CoTaskMemFree(p);
  }
};

int CALLBACK browse_callback(HWND window, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

std::uint32_t tick_count() { return ::GetTickCount(); }

std::wstring temp_dir() {
  std::vector<wchar_t> buf(MAX_PATH + 1);
  const DWORD n = GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
  if (n == 0 || n >= buf.size()) return std::wstring();
  return std::wstring(buf.data(), n);
}

// ---- files -------------------------------------------------------------------------------------

bool rename_path(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileW(native(from).c_str(), native(to).c_str()) != 0;
}

bool delete_file(const std::wstring& path) { return ::DeleteFileW(native(path).c_str()) != 0; }

bool copy_file(const std::wstring& from, const std::wstring& to) {
  return ::CopyFileW(native(from).c_str(), native(to).c_str(), FALSE) != 0;
}

std::vector<std::wstring> matching_names(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd{};
  find_holder h{::FindFirstFileW(native(folder + L"\\" + pattern).c_str(), &fd)};
  if (h.h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = fd.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(h.h, &fd));
  return names;
}

// ---- starting things ---------------------------------------------------------------------------

open_result shell_open(const std::wstring& target) {
  // An address keeps its slashes; a path gets the system's separator.
  const std::wstring what = target.find(L"://") == std::wstring::npos ? native(target) : target;
  const int r = shell_code(
      ::ShellExecuteW(nullptr, L"open", what.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (r > 32) return open_result::ok;
  if (r == ERROR_FILE_NOT_FOUND || r == ERROR_PATH_NOT_FOUND) return open_result::not_found;
  if (r == SE_ERR_NOASSOC) return open_result::no_program;
  return open_result::failed;
}

void choose_program(const std::wstring& file) {
  const std::wstring parameters = L"Shell32.dll,OpenAs_RunDLL " + native(file);
  ::ShellExecuteW(nullptr, L"open", L"rundll32.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

bool shell_execute(std::uintptr_t window, const std::wstring& verb, const std::wstring& file,
                   const std::wstring& parameters, const std::wstring& directory, int show) {
  const int r = shell_code(::ShellExecuteW(
      reinterpret_cast<HWND>(window), verb.empty() ? nullptr : verb.c_str(), file.c_str(),
      parameters.empty() ? nullptr : parameters.c_str(),
      directory.empty() ? nullptr : directory.c_str(), show));
  return r > 32;
}

// ---- user interface ----------------------------------------------------------------------------

std::vector<std::wstring> file_dialog(const file_dialog_request& request) {
  std::wstring filter = request.filter;
  for (auto& c : filter)
    if (c == L'|') c = L'\0';
  filter.push_back(L'\0');  // the list ends with two NULs
  // Room for many selected names: the multiple selection returns them all in one buffer.
  std::vector<wchar_t> buffer(request.multiple ? 65536 : MAX_PATH * 4, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = ::GetActiveWindow();
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  std::vector<std::wstring> out;
  if (request.multiple) {
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    if (!::GetOpenFileNameW(&ofn)) return out;
    // One name: the full path. Several: the folder, then each name, NUL-separated.
    const std::wstring first(buffer.data());
    const wchar_t* p = buffer.data() + first.size() + 1;
    if (*p == L'\0') {
      out.push_back(first);
      return out;
    }
    const std::wstring folder =
        (!first.empty() && first.back() == L'\\') ? first : first + L"\\";
    while (*p) {
      const std::wstring name(p);
      out.push_back(folder + name);
      p += name.size() + 1;
    }
    return out;
  }
  if (request.has_file_name) {
    const std::size_t n = std::min(request.file_name.size(), buffer.size() - 1);
    std::copy(request.file_name.begin(), request.file_name.begin() + static_cast<long>(n),
              buffer.begin());
  }
  if (request.has_default_extension) ofn.lpstrDefExt = request.default_extension.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER | OFN_ENABLESIZING;
  const BOOL ok = request.open ? ::GetOpenFileNameW(&ofn) : ::GetSaveFileNameW(&ofn);
  if (ok) out.push_back(buffer.data());
  return out;
}

std::wstring folder_dialog(const std::wstring& title, const std::wstring& initial) {
  const std::wstring start = FolderDialogStart(native(initial), [](const std::wstring& p) {
    return ::GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
  });
  wchar_t display[MAX_PATH] = {};
  BROWSEINFOW bi{};
  bi.hwndOwner = ::GetActiveWindow();
  bi.pszDisplayName = display;
  bi.lpszTitle = title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  bi.lpfn = browse_callback;
  bi.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  item_list_holder list{::SHBrowseForFolderW(&bi)};
  if (!list.p) return std::wstring();
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(list.p, path)) return std::wstring();
  return path;
}

int message_box(std::uintptr_t window, const std::wstring& caption, const std::wstring& text) {
  return ::MessageBoxW(reinterpret_cast<HWND>(window), text.c_str(), caption.c_str(), MB_YESNO);
}

bool cursor_pos(int& x, int& y) {
  POINT pt{};
  if (!::GetCursorPos(&pt)) return false;
  x = pt.x;
  y = pt.y;
  return true;
}

bool work_area(int x, int y, int& left, int& top, int& right, int& bottom) {
  POINT pt{x, y};
  HMONITOR monitor = ::MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!monitor || !::GetMonitorInfoW(monitor, &info)) return false;
  left = info.rcWork.left;
  top = info.rcWork.top;
  right = info.rcWork.right;
  bottom = info.rcWork.bottom;
  return true;
}

bool screen_size(int& width, int& height) {
  width = ::GetSystemMetrics(SM_CXSCREEN);
  height = ::GetSystemMetrics(SM_CYSCREEN);
  return true;
}

bool key_down(int virtual_key) { return (::GetKeyState(virtual_key) & 0x8000) != 0; }
bool async_key_state(int virtual_key) { return ::GetAsyncKeyState(virtual_key) != 0; }
int key_state(int virtual_key) { return ::GetKeyState(virtual_key); }
void show_cursor(bool show) { ::ShowCursor(show ? TRUE : FALSE); }

int full_screen_state() {
  HWND window = ::GetForegroundWindow();
  if (!window) return 0;
  wchar_t title[64] = {};
  ::GetWindowTextW(window, title, 64);
  if (std::wstring(title) == L"Program Manager") return -1;
  RECT rc{};
  if (!::GetClientRect(window, &rc)) return 0;
  POINT top_left{rc.left, rc.top}, bottom_right{rc.right, rc.bottom};
  ::ClientToScreen(window, &top_left);
  ::ClientToScreen(window, &bottom_right);
  if (top_left.x > 0 || top_left.y > 0 || bottom_right.x < ::GetSystemMetrics(SM_CXSCREEN) ||
      bottom_right.y < ::GetSystemMetrics(SM_CYSCREEN))
    return 0;
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  handle_holder process{::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)};
  if (process.h) {
    wchar_t name[MAX_PATH] = {};
    if (::GetModuleBaseNameW(process.h, nullptr, name, MAX_PATH) &&
        ::lstrcmpiW(name, L"explorer.exe") == 0)
      return -1;
  }
  return 1;
}

// ---- system ------------------------------------------------------------------------------------

void refresh_icons() { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

void reboot() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))
    return;
  handle_holder token{raw};
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &tp.Privileges[0].Luid)) return;
  if (!::AdjustTokenPrivileges(token.h, FALSE, &tp, 0, nullptr, nullptr) ||
      ::GetLastError() != ERROR_SUCCESS)
    return;
  ::ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
}

bool is_wow64() {
  // Looked up at run time: systems before the query have no 64-bit side at all.
  using is_wow64_fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return false;
  const auto fn =
      reinterpret_cast<is_wow64_fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
  BOOL wow = FALSE;
  return fn && fn(::GetCurrentProcess(), &wow) && wow;
}

std::vector<process_entry> process_list() {
  std::vector<process_entry> out;
  handle_holder snapshot{::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
  if (snapshot.h == INVALID_HANDLE_VALUE) return out;
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  for (BOOL more = ::Process32FirstW(snapshot.h, &pe); more;
       more = ::Process32NextW(snapshot.h, &pe)) {
    handle_holder process{
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pe.th32ProcessID)};
    if (!process.h) continue;
    wchar_t path[MAX_PATH] = {};
    if (!::GetModuleFileNameExW(process.h, nullptr, path, MAX_PATH)) continue;
    out.push_back({path, pe.th32ProcessID});
  }
  return out;
}

void terminate_process(std::uint32_t pid, std::uint32_t exit_code) {
  handle_holder process{::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid)};
  if (process.h) ::TerminateProcess(process.h, exit_code);
}

// ---- registry ----------------------------------------------------------------------------------

bool reg_create_key(int root, const std::wstring& key) {
  key_holder k;
  return ::RegCreateKeyExW(root_key(root), key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &k.k, nullptr) == ERROR_SUCCESS;
}

bool reg_delete_key(int root, const std::wstring& key) {
  // A key that is not there is no failure: nothing of it is left.
  const LSTATUS r = ::SHDeleteKeyW(root_key(root), key.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND || r == ERROR_PATH_NOT_FOUND;
}

bool reg_set_dword(int root, const std::wstring& key, const std::wstring& name, std::uint32_t v) {
  key_holder k;
  if (::RegOpenKeyExW(root_key(root), key.c_str(), 0, KEY_WRITE, &k.k) != ERROR_SUCCESS)
    return false;
  const DWORD value = v;
  return ::RegSetValueExW(k.k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

bool reg_set_string(int root, const std::wstring& key, const std::wstring& name,
                    const std::wstring& v) {
  key_holder k;
  if (::RegOpenKeyExW(root_key(root), key.c_str(), 0, KEY_WRITE, &k.k) != ERROR_SUCCESS)
    return false;
  return ::RegSetValueExW(k.k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                          static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

reg_value reg_query(int root, const std::wstring& key, const std::wstring& name) {
  reg_value out;
  key_holder k;
  if (::RegOpenKeyExW(root_key(root), key.c_str(), 0, KEY_READ, &k.k) != ERROR_SUCCESS) return out;
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(k.k, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return out;
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD v = 0;
    if (::RegQueryValueExW(k.k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) ==
        ERROR_SUCCESS) {
      out.kind = reg_value::dword;
      out.number = v;
    }
  } else if (type == REG_SZ && size <= 1024 * 1024) {
    // A stored string may lack its NUL: one more unit, zeroed.
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(k.k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                           &bytes) == ERROR_SUCCESS &&
        type == REG_SZ) {
      buf.back() = L'\0';
      out.kind = reg_value::string;
      out.text = buf.data();
    }
  }
  return out;
}

bool reg_delete_value(int root, const std::wstring& key, const std::wstring& name) {
  key_holder k;
  if (::RegOpenKeyExW(root_key(root), key.c_str(), 0, KEY_ALL_ACCESS, &k.k) != ERROR_SUCCESS)
    return true;
  return ::RegDeleteValueW(k.k, name.c_str()) == ERROR_SUCCESS;
}

}  // namespace desktop::os
