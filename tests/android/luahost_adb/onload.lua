-- "AndroidCon.Manager" in the real host: listeners get their tag, their id and the meaning of
-- the output; cancelled commands call nothing; the host quits once everything has arrived.
local T = require("hosttest")
local M = _G["AndroidCon.Manager"]

local expected = 5
local arrived = 0
local ids = {}

local function arrive()
  arrived = arrived + 1
  if arrived == expected then
    -- Give a cancelled command the chance to misbehave before finishing.
    ids.last = M:AddAndroidCmd("tivorel_help.exe  sleep 300", "last", 0, -1, 0, function(tag, id)
      T.equal(tag, "last", "last tag")
      T.equal(id, ids.last, "last id")
      T.finish()
    end)
  end
end

T.run("queue", function()
  M:Init()
  M:Init()  -- a second start changes nothing

  ids.first = M:GetDevices("first", function(tag, id, list)
    T.equal(tag, "first", "tag of the first listing")
    T.equal(id, ids.first, "id of the first listing")
    T.equal(#list, 2, "devices listed")
    T.equal(list[1].DriverId, "192.168.1.20:5555", "network device")
    T.equal(list[1].USBIdentify, "192.168.1.20:5555", "its USB identity")
    T.equal(list[1].State, "offline", "its state")
    T.equal(list[2].DriverId, "HT4A1", "USB device")
    T.equal(list[2].State, "device", "its state")
    arrive()
  end)
  ids.second = M:GetDevices("second", function(tag, id, list)
    T.equal(tag, "second", "tag of the second listing")
    T.equal(id, ids.second, "id of the second listing")
    T.equal(type(list), "table", "second list")
    arrive()
  end)
  T.check(ids.second ~= ids.first, "two listings, two ids")

  ids.install = M:InstallAPK("SER", "inst", "C:\\apps\\x.apk", function(tag, id, code)
    T.equal(tag, "inst", "install tag")
    T.equal(code, 5, "install result")
    arrive()
  end)
  ids.forward = M:ForwardTcpPort("SER", "fwd", 12156, 12156, function(tag, id, code)
    T.equal(id, ids.forward, "forward id")
    T.equal(code, 4, "forward against a missing device")
    arrive()
  end)
  ids.free = M:AddAndroidCmd('tivorel_help.exe  echo "two words"', "free", 0, -1, 1,
    function(tag, id, text, extra)
      T.equal(text, "[echo][two words]", "free-form output")
      T.equal(extra, nil, "three arguments")
      arrive()
    end)

  local cancelled = M:AddAndroidCmd("tivorel_help.exe  sleep 2000", "cancelled", 0, -1, 0,
    function() T.check(false, "a cancelled command called its listener") end)
  M:CancleTask(cancelled)
  M:CancleTask(987654)  -- not pending
end)
