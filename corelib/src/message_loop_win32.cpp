// The message loop on the Win32 message queue: real hidden windows and their procedures.
#include "qv/message_loop.h"

#include <windows.h>

#include <mutex>
#include <set>

namespace qv::loop {
namespace {

struct proc_binding {
  window_proc proc;
  void* user;
};

LRESULT CALLBACK shared_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* b = reinterpret_cast<proc_binding*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY && b) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete b;  // allocated by create_window for the life of the window
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  if (!b || !b->proc) return DefWindowProcW(hwnd, msg, wp, lp);
  return static_cast<LRESULT>(b->proc(b->user, hwnd, msg, wp, lp));
}

bool ensure_class(const window_spec& spec) {
  static std::mutex m;
  static std::set<std::wstring> registered;
  std::lock_guard<std::mutex> lock(m);
  if (registered.count(spec.class_name)) return true;
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = spec.redraw_styles ? (CS_HREDRAW | CS_VREDRAW) : 0;
  wc.lpfnWndProc = shared_window_proc;
  wc.hInstance = inst;
  if (spec.class_icon_and_cursor) {
    wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(32516));
    wc.hCursor = LoadCursorW(inst, MAKEINTRESOURCEW(32515));
  }
  wc.hbrBackground = spec.dark_grey_background ? static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)) : nullptr;
  wc.lpszClassName = spec.class_name.c_str();
  // A class registered earlier under the same name is fine: creation proceeds with it.
  RegisterClassExW(&wc);
  registered.insert(spec.class_name);
  return true;
}

}  // namespace

window_handle create_window(const window_spec& spec, window_proc proc, void* user) {
  if (!proc || spec.class_name.empty()) return nullptr;
  ensure_class(spec);
  auto* binding = new proc_binding{proc, user};  // freed on WM_NCDESTROY
  HWND parent = spec.desktop_parent ? GetDesktopWindow() : nullptr;
  HWND hwnd = CreateWindowExW(spec.ex_style, spec.class_name.c_str(), spec.title.c_str(), spec.style,
                              spec.x, spec.y, spec.width, spec.height, parent, nullptr,
                              GetModuleHandleW(nullptr), binding);
  if (!hwnd) {
    delete binding;
    return nullptr;
  }
  return hwnd;
}

bool destroy_window(window_handle w) { return w && DestroyWindow(static_cast<HWND>(w)); }

bool is_window(window_handle w) { return w && IsWindow(static_cast<HWND>(w)); }

bool post_message(window_handle w, unsigned msg, wparam_t wp, lparam_t lp) {
  return w && PostMessageW(static_cast<HWND>(w), msg, wp, lp);
}

lresult_t send_message(window_handle w, unsigned msg, wparam_t wp, lparam_t lp) {
  return w ? SendMessageW(static_cast<HWND>(w), msg, wp, lp) : 0;
}

lresult_t default_window_proc(window_handle w, unsigned msg, wparam_t wp, lparam_t lp) {
  return DefWindowProcW(static_cast<HWND>(w), msg, wp, lp);
}

bool set_timer(window_handle w, std::uintptr_t id, unsigned period_ms) {
  return w && SetTimer(static_cast<HWND>(w), id, period_ms, nullptr) != 0;
}

bool kill_timer(window_handle w, std::uintptr_t id) {
  return w && KillTimer(static_cast<HWND>(w), id);
}

void post_quit(int exit_code) { PostQuitMessage(exit_code); }

int run() {
  MSG msg;
  BOOL r;
  while ((r = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (r == -1) return -1;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace qv::loop
