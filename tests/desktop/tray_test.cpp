// The tray's window procedure and listeners, through the Lua surface. The shell is not asked
// anything here: the message the shell would send is sent to the tray's window directly.
#include "desktop/shell_objects.h"

#include "qv/message_loop.h"

#include <gtest/gtest.h>

#include "shell_lua.h"

#include <lauxlib.h>

#include <string>

namespace {

using shell_test::state;

std::string run(const std::string& code) {
  static const bool registered = (desktop::RegisterTray(QVLRT_GetEnv(0)), true);
  (void)registered;
  return shell_test::run_lua(code);
}

TEST(Tray, TheTrayMessageReachesEveryListenerUntilDetached) {
  EXPECT_EQ(run("tray = _G['Tray.Manager'] log = {} "
                "c1 = tray:AttachEvent(function(w, l) log[#log + 1] = 'a' .. w .. ':' .. l end) "
                "c2 = tray:AttachEvent(function(w, l) log[#log + 1] = 'b' .. w .. ':' .. l end) "
                "result = tostring(c1) .. ',' .. tostring(c2) .. ',' .. "
                "select('#', tray:AttachEvent('not a function'))"),
            "1,2,0");
  qv::loop::window_handle w = desktop::TrayWindow();
  ASSERT_NE(w, nullptr);
  qv::loop::send_message(w, desktop::kTrayMessage, 0, 0x0202);  // WM_LBUTTONUP
  qv::loop::send_message(w, desktop::kTrayMessage, 0, 0x0205);  // WM_RBUTTONUP
  qv::loop::send_message(w, desktop::kTrayMessage + 1, 0, 1);   // not the tray's message
  EXPECT_EQ(run("result = table.concat(log, ' ')"), "a0:514 b0:514 a0:517 b0:517");

  EXPECT_EQ(run("log = {} tray:DetachEvent(c1) result = ''"), "");
  qv::loop::send_message(w, desktop::kTrayMessage, 0, 0x0202);
  EXPECT_EQ(run("result = table.concat(log, ' ')"), "b0:514");
  EXPECT_EQ(run("tray:DetachEvent(c2) log = {} result = ''"), "");
  qv::loop::send_message(w, desktop::kTrayMessage, 0, 0x0202);
  EXPECT_EQ(run("result = table.concat(log, ' ')"), "");
}

TEST(Tray, IconMethodsTakeTheirArguments) {
  // A tip longer than the shell keeps, icon changes and deletion: none of them raises or
  // returns anything.
  EXPECT_EQ(run("local tray = _G['Tray.Manager'] "
                "result = select('#', tray:CreateNotifyTray()) .. "
                "select('#', tray:ModifyTrayTips(string.rep('\\228\\184\\173', 130))) .. "
                "select('#', tray:ModifyTrayIcon(128)) .. "
                "select('#', tray:DeleteNotifyTray())"),
            "0000");
  EXPECT_EQ(run("local tray = _G['Tray.Manager'] "
                "result = tostring(pcall(tray.ModifyTrayTips, tray)) .. "
                "tostring(pcall(tray.ModifyTrayIcon, tray, 'x')) .. "
                "tostring(pcall(tray.CreateNotifyTray, {}))"),
            "falsefalsefalse");
}

}  // namespace
