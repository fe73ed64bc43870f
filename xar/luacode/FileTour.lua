-- The tour's file steps for one device: a small folder goes to the phone and one of its files
-- comes back, both with progress. Each step has a time limit, so a device that goes silent ends
-- the step with a line saying so instead of holding the tour.
--
--   local FileTour = require("luacode.FileTour")
--   FileTour.run{serial = s, say = say_f_like, tmpdir = dir, done = function() end}
local M = {}

-- The agent's file services on the PC and on the device: receiving files, serving them.
M.SEND_PORT, M.GET_PORT = 12158, 12159
M.STEP_LIMIT_MS = 30000
M.DEVICE_DIR = "/sdcard/Tivorel/tour/"

local adb = _G["AndroidCon.Manager"]
local sockets = _G["LuaAsyncSocketFactory"]

local SEND_FAILURES = {
  [1000] = "a local file cannot be read",
  [1001] = "no socket could be made",
  [1002] = "the agent does not accept the connection",
  [1003] = "the connection broke before the agent confirmed",
}

-- Runs body(finish) with a time limit: the watchdog is a client command that waits while the
-- device stays connected, ended by the runner after ms. on_time_out cleans the step up.
local function limited(o, name, ms, body, on_time_out, k)
  local over, watchdog = false, nil
  local function finish()
    if over then return end
    over = true
    if watchdog then adb:CancleTask(watchdog) end
    k()
  end
  watchdog = adb:AddAndroidCmd('tivorel_help.exe  -s "' .. o.serial .. '" wait-for-disconnect', "limit", 0, ms, 1,
    function()
      watchdog = nil
      if over then return end
      o.say(string.format("  %s: the device did not finish within %d s; going on", name, math.floor(ms / 1000)))
      on_time_out()
      finish()
    end)
  body(finish)
end

local function write(path, text)
  local f = io.open(path, "wb")
  if not f then return false end
  f:write(text)
  f:close()
  return true
end

local function make_folder(o)
  -- Windows form everywhere: the host's objects and Lua's own io take it; only the shell's
  -- mkdir needs the system's form.
  local dir = o.tmpdir .. "tour\\Push Folder"
  local posix = package.config:sub(1, 1) == "/"
  local notes = dir .. "\\Notes"
  os.execute(posix and ('mkdir -p "' .. notes:gsub("\\", "/") .. '"') or ('mkdir "' .. notes .. '"'))
  local ok = write(dir .. "\\ReadMe.txt", "Tivorel sends whole folders to the phone.\n")
    and write(dir .. "\\Notes\\List.TXT", string.rep("one line of the tour's notes\n", 2000))
  return ok and dir or nil
end

local function push(o, k)
  local folder = make_folder(o)
  if not folder then
    o.say("  cannot make the folder to send; skipping the file steps")
    return k(false)
  end
  local sender = sockets:CreateSendFile(o.serial, M.SEND_PORT)
  sender:Init()
  local ok = false
  limited(o, "sending the folder", M.STEP_LIMIT_MS, function(finish)
    o.say(string.format("  sending %s to %s", folder, M.DEVICE_DIR))
    sender:SendCommonFile(M.DEVICE_DIR, folder, function(_, _, current, status, done, total)
      if status == 1 then
        o.say(string.format("    %s: %d of %d bytes", current, done, total))
      elseif status == 5 then
        o.say(string.format("  folder sent: %d bytes", done))
        ok = true
        finish()
      else
        o.say(string.format("  sending failed: %s (%d)", SEND_FAILURES[status] or "?", status))
        finish()
      end
    end)
  end, function() sender:CancleAllTask() end, function()
    sender:UnInit()
    sender:delete_self()
    k(ok)
  end)
end

local function fetch(o, k)
  local getter = sockets:CreateGetFile(o.serial, M.GET_PORT)
  getter:Init()
  local target = o.tmpdir .. "tour\\back\\readme.txt"
  limited(o, "fetching a file", M.STEP_LIMIT_MS, function(finish)
    o.say(string.format("  fetching %sreadme.txt", M.DEVICE_DIR))
    getter:GetFileTask(M.DEVICE_DIR .. "readme.txt", target, function(_, _, status, path, n)
      if status == 1 then
        o.say(string.format("    %d bytes", n))
      elseif status == 5 then
        o.say(string.format("  fetched %d bytes into %s", n, path))
        finish()
      else
        o.say(string.format("  fetching failed (%d)", status))
        finish()
      end
    end)
  end, function() getter:CancleAllTask() end, function()
    getter:UnInit()
    k()
  end)
end

function M.run(o)
  local remaining, failed = 2, false
  for _, port in ipairs({M.SEND_PORT, M.GET_PORT}) do
    adb:ForwardTcpPort(o.serial, "fwd", port, port, function(_, _, code)
      if code ~= 5 then failed = true end
      remaining = remaining - 1
      if remaining > 0 then return end
      o.say(string.format("  forward tcp:%d and tcp:%d to the agent's files: %s", M.SEND_PORT, M.GET_PORT,
        failed and "failed" or "ok"))
      if failed then return o.done() end
      push(o, function(sent)
        if not sent then return o.done() end
        fetch(o, o.done)
      end)
    end)
  end
end

return M
