-- Runs the default package's tour (copied beside the host as onload.lua) and checks its lines.
-- TOUR_EXPECT says which case this run is: "missing" (no stock ADB client anywhere) or
-- "present" (the stand-in client answers with an empty device list).
local T = require("hosttest")
local expect = os.getenv("TOUR_EXPECT")

local lines = {}
local real_stdout, real_shell = io.stdout, _G["Win32Shell.Object"]

local function has(pattern, plain)
  for _, l in ipairs(lines) do
    if l:find(pattern, 1, plain) then return true end
  end
  return false
end

local function check_lines()
  local text = table.concat(lines, "\n")
  T.check(has("Tour finished.", true), "the tour ran to its end:\n" .. text)
  if expect == "missing" then
    T.check(not has("ADB server started", true), "no started server is claimed:\n" .. text)
    T.check(not has("No device is attached", true), "no device hunt is suggested:\n" .. text)
    T.check(has("The ADB client is missing", true), "the missing client is named:\n" .. text)
    T.check(has("TIVOREL_ADB", true), "the fix is given:\n" .. text)
    if package.config:sub(1, 1) == "\\" then
      T.check(has("AdbWinApi.dll", true), "the Windows files are named:\n" .. text)
    else
      T.check(has("apt install adb", true), "the package is named:\n" .. text)
    end
  else
    T.equal(expect, "present", "TOUR_EXPECT")
    T.check(has("ADB server started", true), "the server answered:\n" .. text)
    T.check(has("No device is attached.", true), "the empty list is reported:\n" .. text)
    T.check(not has("ADB client is missing", true), "no missing client:\n" .. text)
  end
end

-- The tour writes its lines to standard output and ends with the shell's quit message; both
-- are caught here while it runs.
io.stdout = {
  write = function(_, ...)
    local s = table.concat({...})
    for l in s:gmatch("[^\n]+") do lines[#lines + 1] = l end
    real_stdout:write(s)
  end,
  flush = function() real_stdout:flush() end,
}
_G["Win32Shell.Object"] = {
  GetTickCount = function() return real_shell:GetTickCount() end,
  PostQuitMessage = function()
    io.stdout = real_stdout
    _G["Win32Shell.Object"] = real_shell
    T.run("tour lines", check_lines)
    T.finish()
  end,
}
-- The tour and its modules (luacode/) lie in the program folder, one level up.
package.path = T.dir .. "../?.lua;" .. package.path
local ok, err = pcall(dofile, T.dir .. "../onload.lua")
if not ok then
  io.stdout = real_stdout
  _G["Win32Shell.Object"] = real_shell
  T.check(false, "the tour raised: " .. tostring(err))
  T.finish()
end
