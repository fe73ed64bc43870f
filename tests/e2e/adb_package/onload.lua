-- "AndroidCon.Manager" and "Socket.Manager.Class" against two virtual phones through the stock
-- adb: the list, install/uninstall, start, broadcast, forwards, and each phone's own agent.
local T = require("hosttest")
local adb = _G["AndroidCon.Manager"]
local sockets = _G["LuaAsyncSocketFactory"]
local serials = {}
for s in os.getenv("E2E_SERIALS"):gmatch("%S+") do serials[#serials + 1] = s end
local contacts_of = {}
for n in os.getenv("E2E_CONTACTS"):gmatch("%S+") do contacts_of[#contacts_of + 1] = tonumber(n) end
local apk = os.getenv("E2E_APK")

local step, next_step = T.step, T.next_step
local keep = {}

step("start and list", function()
  adb:Init()
  adb:StartServices("s", function()
    adb:GetDevices("l", function(_, _, list)
      local seen = {}
      for _, d in ipairs(list) do seen[d.DriverId] = d.State end
      for _, s in ipairs(serials) do T.equal(seen[s], "device", "listed: " .. s) end
      next_step()
    end)
  end)
end)

local function packages(serial, k)
  adb:AddAndroidCmd('tivorel_help.exe  -s "' .. serial .. '" shell pm list packages com.tivorel.demo',
    "pm", 0, 20000, 0, function(_, _, text) k(text or "") end)
end

step("install, uninstall", function()
  local s = serials[1]
  adb:InstallAPK(s, "i", apk, function(_, _, code)
    T.equal(code, 5, "install result")
    packages(s, function(text)
      T.check(text:find("package:com.tivorel.demo", 1, true) ~= nil, "the phone holds the package")
      adb:UnInstallAPK(s, "u", "com.tivorel.demo", function(_, _, code2)
        T.equal(code2, 5, "uninstall result")
        packages(s, function(text2)
          T.check(text2:find("com.tivorel.demo", 1, true) == nil, "package gone")
          next_step()
        end)
      end)
    end)
  end)
end)

step("start and broadcast", function()
  adb:StartAPK(serials[1], "a", "com.android.calendar/.AllInOneActivity", function(_, _, code)
    T.equal(code, 5, "start result")
    adb:StartAPK(serials[1], "m", "com.example.missing/.Main", function(_, _, code1)
    T.equal(code1, 4, "start of a missing activity")
    adb:StartBroadCast(serials[1], "b", function(_, _, code2)
      T.equal(code2, 5, "broadcast result")
      next_step()
    end)
    end)
  end)
end)

-- The agent's PC ports are fixed: each phone in turn gets them forwarded and must answer with
-- its own contact list.
for i = 1, 2 do
  step("forward and contacts of phone " .. i, function()
    local left = 2
    for _, port in ipairs({12156, 12157}) do
      adb:ForwardTcpPort(serials[i], "f", port, port, function(_, _, code)
        T.equal(code, 5, "forward result")
        left = left - 1
        if left > 0 then return end
        local m = sockets:CreateAsyncSocket(serials[i])
        keep[i] = m
        local count = 0
        m:SendSocketMessage(14, function(kind, status, records)
          T.equal(kind, 5, "a reply, not an error")
          if kind ~= 5 then next_step() return end
          if status == 2 then
            T.equal(count, contacts_of[i], "contacts of phone " .. i)
            next_step()
          else
            count = count + #records
          end
        end)
      end)
    end
  end)
end

-- A phone that vanishes while "am start" runs: the request ends (the runner's time-out at the
-- latest), nothing crashes, and once the client drops it (adb keeps a vanished network device
-- "offline" for about a minute; disconnect ends that at once) the list no longer shows it.
step("a phone vanishes mid-request", function()
  local gone = serials[3]
  adb:StartAPK(gone, "v", "com.android.calendar/.AllInOneActivity", function(tag, _, code)
    T.equal(tag, "v", "the request ended")
    T.equal(type(code), "number", "with a result code")
    adb:AddAndroidCmd('tivorel_help.exe  disconnect "' .. gone .. '"', "d", 0, 20000, 0, function()
      adb:GetDevices("after", function(_, _, list)
        local seen = {}
        for _, d in ipairs(list) do seen[d.DriverId] = d.State end
        T.equal(seen[gone], nil, "the vanished phone is no longer listed")
        T.equal(seen[serials[1]], "device", "the other phone still is")
        next_step()
      end)
    end)
  end)
end)

next_step()
