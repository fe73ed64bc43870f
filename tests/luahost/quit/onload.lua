-- PostQuitMessage ends the message loop; the host then shuts down (the probe host checks the
-- release order after the loop and adds its verdict to the result file).
local T = require("hosttest")
local shell = _G["Win32Shell.Object"]
T.check(shell ~= nil, "Win32Shell.Object is registered")
local t1 = shell:GetTickCount()
T.check(type(t1) == "number" and t1 >= 0, "GetTickCount gives a number")
T.finish()
