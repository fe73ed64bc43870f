-- PostQuitMessage ends the message loop; the host then shuts down (the probe host checks the
-- release order after the loop and adds its verdict to the result file).
local T = require("hosttest")
local shell = _G["Win32Shell.Object"]
T.check(shell ~= nil, "Win32Shell.Object is registered")
local t1 = shell:GetTickCount()
T.check(type(t1) == "number" and t1 >= 0, "GetTickCount gives a number")
local f = io.open(T.dir .. "../beside_host.txt", "r")
T.check(f ~= nil, "the harness put the extra file beside the host")
if f then f:close() end
T.finish()
