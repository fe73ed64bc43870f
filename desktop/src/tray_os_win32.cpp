#include "tray_os.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

namespace desktop::os {
namespace {

static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATAW) == 956,
              "the shell expects the full 32-bit NOTIFYICONDATAW");

NOTIFYICONDATAW icon_data(qv::loop::window_handle window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = static_cast<HWND>(window);
  data.uID = 0;
  return data;
}

// The icon resources of the executable are shared icons: they are never destroyed.
HICON exe_icon(int id) { return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id)); }

void copy_tip(NOTIFYICONDATAW& data, const std::u16string& tip) {
  const std::size_t n = std::min<std::size_t>(tip.size(), ARRAYSIZE(data.szTip) - 1);
  std::copy(tip.begin(), tip.begin() + static_cast<std::ptrdiff_t>(n), data.szTip);
  data.szTip[n] = 0;
}

}  // namespace

void tray_add(qv::loop::window_handle window, unsigned callback_message, int icon_resource,
              const std::u16string& tip) {
  NOTIFYICONDATAW data = icon_data(window);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;  // 0x17
  data.uCallbackMessage = callback_message;
  data.hIcon = exe_icon(icon_resource);
  copy_tip(data, tip);
  Shell_NotifyIconW(NIM_ADD, &data);
}

void tray_set_tip(qv::loop::window_handle window, const std::u16string& tip) {
  NOTIFYICONDATAW data = icon_data(window);
  data.uFlags = NIF_TIP;
  copy_tip(data, tip);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void tray_set_icon(qv::loop::window_handle window, int icon_resource) {
  NOTIFYICONDATAW data = icon_data(window);
  data.uFlags = NIF_ICON;
  data.hIcon = exe_icon(icon_resource);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void tray_delete(qv::loop::window_handle window) {
  NOTIFYICONDATAW data = icon_data(window);
  Shell_NotifyIconW(NIM_DELETE, &data);
}

}  // namespace desktop::os
