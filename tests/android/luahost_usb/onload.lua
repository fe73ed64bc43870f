-- "Device.Manager" and "DeviceInfo.Class" in the real host over fixture devices: Init reports
-- each recognised device once with the getters filled from the database, unplugging reports each
-- as removed; the queries and the log.
local T = require("hosttest")
local M = _G["Device.Manager"]

local arrived, removed = {}, {}

local function same_list(got, want, what)
  T.equal(type(got), "table", what .. " is a table")
  if type(got) ~= "table" then return end
  T.equal(#got, #want, what .. " length")
  for i = 1, #want do T.equal(got[i], want[i], what .. " [" .. i .. "]") end
end

local function finish_when_removed()
  if #removed < 3 then return end
  table.sort(removed)
  same_list(removed, {"0A1B2C3D", "9f00", "R58M1"}, "removed serials")
  T.finish()
end

local function listener(info)
  local kind = info:GetChangeType()
  if kind == 2 then
    removed[#removed + 1] = info:GetProduceId()
    finish_when_removed()
    return
  end
  T.equal(kind, 1, "change type")
  arrived[#arrived + 1] = info
end

T.run("init", function()
  T.equal(M:Init(listener), true, "Init")
  T.equal(#arrived, 3, "one call per recognised device")
  local pixel, galaxy, storage = arrived[1], arrived[2], arrived[3]

  T.equal(pixel:GetProduceId(), "0A1B2C3D", "serial")
  T.equal(pixel:GetName(), "google_pixel", "database key")
  T.equal(pixel:GetBrand(), "Google", "brand")
  T.equal(pixel:GetVID(), "18D1", "vid")
  T.equal(pixel:GetPID(), "4EE7", "pid")
  T.equal(pixel:GetUSBIdentify(), "18D14EE7", "vid and pid joined")
  T.check(pixel:GetType() ~= "", "model name")
  same_list(pixel:GetInstanceIDList(), {"USB\\VID_18D1&PID_4EE7&MI_01\\6&3A&0&0001",
                                        "USB\\VID_18D1&PID_4EE7\\0A1B2C3D"}, "instance ids")
  same_list(pixel:GetDriverList(), {"E:\\"}, "drives")
  for _, getter in ipairs({"GetAlias", "GetResolution", "GetSmallPng", "GetShellSize",
                           "GetInterShellSize", "GetShotPos"}) do
    T.equal(pixel[getter](pixel), "", getter .. " stays empty")
  end

  T.equal(galaxy:GetProduceId(), "R58M1", "a root hub's child")
  T.equal(galaxy:GetName(), "samsung_galaxy", "its key")

  T.equal(storage:GetName(), "android_generic", "a Modals-only drive")
  T.equal(storage:GetPID(), "", "without a pid")
  T.equal(storage:GetVID(), "18D1", "with the vid of its record")
  same_list(storage:GetDriverList(), {"G:\\"}, "its drive")

  T.equal(M:Init(listener), true, "a second Init")
  T.equal(#arrived, 3, "reports nothing again")
end)

T.run("queries", function()
  same_list(M:GetDevcieDriverList("x", {"USB\\VID_18D1&PID_4EE7\\0a1b2c3d", 5, "USB\\X\\none"}),
            {"E:\\"}, "drives of instances")
  same_list(M:GetDevcieDriverList("x", {}), {}, "no instances")

  local info = M:GetMobileInfoByModal("FILE-STOR_GADGET")
  T.check(info ~= nil, "Modals match")
  if info then
    T.equal(info:GetBrand(), "Android", "its brand")
    T.check(info:GetType() ~= "", "its model")
    T.equal(info:GetName(), "", "only brand, model and icon are set")
    T.equal(info:GetChangeType(), 0, "not a change")
  end
  T.equal(select("#", M:GetMobileInfoByModal("no such product")), 0, "no match gives no value")

  T.equal(M:IsDebugger(), true, "IsDebugger")
  T.equal(M:CanWriteLog(), false, "CanWriteLog")
  T.check(not pcall(M.Init, {}), "a method on something else raises")
end)

T.run("log", function()
  local path = UsbTestLogPath()
  os.remove(path)
  M:WriteLuaLog("abc")
  M:WriteLuaLog("d\195\169j\195\160 vu")
  local f = io.open(path, "rb")
  T.check(f ~= nil, "the log exists at " .. path)
  if not f then return end
  local text = f:read("*a")
  f:close()
  local eol = package.config:sub(1, 1) == "\\" and "\r\n" or "\n"
  local first, second = text:match("^(.-)" .. eol .. "(.-)" .. eol .. "$")
  T.check(first ~= nil, "two lines: " .. text)
  if not first then return end
  T.check(first:match("^%d%d:%d%d:%d%d     %d+  abc$") ~= nil, "line format: " .. first)
  T.check(second:match("^%d%d:%d%d:%d%d     %d+  d\195\169j\195\160 vu$") ~= nil, "bytes as given")
end)

-- Everything leaves; the removals arrive a second after the change.
T.run("unplug", function() UsbTestUnplug() end)
