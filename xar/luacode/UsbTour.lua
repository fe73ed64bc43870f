-- USB devices in the tour: every recognised device that arrives or leaves is shown (model,
-- brand, vid:pid, serial, drives) next to what ADB reports for the same serial; recognised
-- devices that ADB does not list are named with what to do about them.
--
--   local usb = dofile(dir .. "luacode/UsbTour.lua")
--   usb.start(say, adb, done)   -- done() once the devices present at start have been shown
local M = {}

local IS_WINDOWS = package.config:sub(1, 1) == "\\"

local NOT_IN_ADB = IS_WINDOWS
  and "ADB does not list it: turn on USB debugging (Settings > Developer options) and check "
    .. "that the phone's ADB driver is installed"
  or "ADB does not list it: turn on USB debugging (Settings > Developer options); if it is on, "
    .. "this user may not open the device: add a udev rule for vendor id %s (or join the "
    .. "plugdev group) and reconnect the cable"

local function describe(info)
  local drives = info:GetDriverList()
  local pid = info:GetPID()
  return string.format("%s %s (%s:%s) serial %s%s", info:GetBrand(), info:GetType(),
    info:GetVID(), pid ~= "" and pid or "-", info:GetProduceId(),
    #drives > 0 and (", drives " .. table.concat(drives, " ")) or "")
end

-- ADB's view of one serial: its state, or nil when ADB does not list it.
local function adb_state(adb, serial, reply)
  adb:AddAndroidCmd("tivorel_help.exe  devices", "usb", 0, 20000, 0, function(_, _, text)
    for line in (text or ""):gmatch("[^\r\n]+") do
      local s, state = line:match("^(%S+)%s+(.-)%s*$")
      if s == serial and not line:find("^List of devices") then return reply(state) end
    end
    reply(nil)
  end)
end

local function report(say, adb, info, done)
  local what = describe(info)
  if info:GetChangeType() == 2 then
    say("USB removed: " .. what)
    if done then done() end
    return
  end
  say("USB arrived: " .. what)
  if info:GetPID() == "" then
    say("  (a storage drive of a known device; ADB does not see storage drives)")
    if done then done() end
    return
  end
  local serial, vid = info:GetProduceId(), info:GetVID()
  adb_state(adb, serial, function(state)
    if state then
      say(string.format("  %s: ADB lists it as \"%s\"", serial, state))
    else
      say("  " .. serial .. ": " .. string.format(NOT_IN_ADB, vid))
    end
    if done then done() end
  end)
end

function M.start(say, adb, done)
  local manager = _G["Device.Manager"]
  if not manager then
    say("USB detection is not available")
    return done()
  end
  local starting, pending, seen = true, 0, 0
  local function one_done()
    pending = pending - 1
    if pending == 0 and not starting then done() end
  end
  -- Init reports the devices already present before it returns; later changes arrive as they
  -- happen, a second after the last USB event.
  local ok = manager:Init(function(info)
    if starting then
      seen, pending = seen + 1, pending + 1
      report(say, adb, info, one_done)
    else
      report(say, adb, info)
    end
  end)
  if not ok then say("USB detection: the device database could not be loaded") end
  starting = false
  if seen == 0 then say("USB: no recognised Android device is plugged in") end
  if pending == 0 then done() end
end

return M
