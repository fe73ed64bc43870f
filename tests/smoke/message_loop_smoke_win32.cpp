// A hidden window posts itself a message and receives it through the thread's message loop.
#include <gtest/gtest.h>
#include <windows.h>

namespace {
constexpr UINT kPing = WM_USER + 7;
int g_received = 0;

LRESULT CALLBACK SmokeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kPing) {
    g_received = static_cast<int>(wp + lp);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}
}  // namespace

TEST(MessageLoopSmoke, HiddenWindowReceivesPostedMessage) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = SmokeProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TivorelSmokeWnd";
  ASSERT_NE(0, RegisterClassW(&wc));
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"TivorelSmokeWnd", WS_OVERLAPPED, 0, 0, 0, 0,
                              nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  ASSERT_TRUE(PostMessageW(hwnd, kPing, 40, 2));
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(42, g_received);
  DestroyWindow(hwnd);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
}
