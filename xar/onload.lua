-- Entry script of the default UI package: a console tour of what Tivorel does with a phone.
-- It starts the ADB server, lists the devices and, for every device that is ready, forwards the
-- agent's ports, starts the agent, shows the first apps, contacts and messages, installs the
-- bundled demo app; then it downloads a demo file. Devices that are not ready are shown with what
-- the user should do. Every line goes to standard output and to the log (tour.log beside
-- engine.log). Afterwards the program stays alive until Ctrl-C / SIGTERM or the quit message.
--
-- Environment (all optional):
--   TIVOREL_DEMO_URL        the file the download step fetches (default
--                           http://127.0.0.1:$TIVOREL_DEMO_PORT/demo.bin)
--   TIVOREL_DEMO_PORT       port of the local demo server (default 8080)
--   TIVOREL_DEMO_APK        the app to install (default: xar/demo/com.tivorel.demo.apk)
--   TIVOREL_TOUR_QUIT=1     post the quit message once the tour is over
local shell = _G["Win32Shell.Object"]
local adb = _G["AndroidCon.Manager"]
local sockets = _G["LuaAsyncSocketFactory"]
local downloads = _G["DownloadManger.Manager"]
local paths = _G["qv.filesystem.path_utility"]
local FileTour = require("luacode.FileTour")

-- The agent's ports (event channel, command channel) on the PC and on the device.
local AGENT_PORTS = {12156, 12157}
-- Agent request codes of the lists shown.
local APPS, CONTACTS, MESSAGES = 13, 14, 47
local SHOW_FIRST = 3

-- Paths are written in the Windows form on every system, as the path utility gives them.
local function join(dir, name)
  if dir == nil or dir == "" then return name end
  local last = dir:sub(-1)
  if last == "/" or last == "\\" then return dir .. name end
  return dir .. "\\" .. name
end

-- Names the program on the ADB server's port when the server cannot start.
local port_owner = require("luacode.AdbPortOwner")

local log_file
do
  local dir = paths and paths:get_tmpdata_dir()
  if dir and dir ~= "" then log_file = io.open(join(dir, "tour.log"), "a") end
end

local function say(text)
  local line = string.format("[%8d] %s", shell and shell:GetTickCount() or 0, text)
  io.stdout:write(line, "\n")
  io.stdout:flush()
  if log_file then
    log_file:write(os.date("%Y-%m-%d %H:%M:%S "), line, "\n")
    log_file:flush()
  end
end

local function say_f(...) say(string.format(...)) end

local apphelp_tour = require("luacode.apphelp_tour")
apphelp_tour.start(say)

local function quote(s) return '"' .. s .. '"' end

-- Steps run one after another; each calls next_step() from its last callback.
local steps, current = {}, 0
local function next_step()
  current = current + 1
  local s = steps[current]
  if not s then return end
  local ok, err = pcall(s)
  if not ok then
    say("error in the tour: " .. tostring(err))
    next_step()
  end
end
local function add_step(f) steps[#steps + 1] = f end

-- What the user should do about a device in a state other than "device".
local ADVICE = {
  unauthorized = "unlock the phone and accept the \"Allow USB debugging\" prompt (tick "
    .. "\"Always allow from this computer\"), then start Tivorel again",
  offline = "unplug and reconnect the cable (for a network device: adb disconnect and connect "
    .. "again); if it stays offline, restart the phone",
  ["no permissions"] = "this user may not open the USB device: add a udev rule for the phone's "
    .. "vendor id or run Tivorel as a member of the plugdev group",
  recovery = "the phone is in recovery mode: reboot it into Android",
  bootloader = "the phone is in the boot loader: reboot it into Android",
}

local ready = {}      -- serials in state "device", in list order
local troubled = {}   -- {serial, state} of the others

local function contains(list, serial)
  for _, v in ipairs(list) do if v == serial then return true end end
  return false
end

local function format_app(r)
  return string.format("%s (%s %s)", r.Name or "?", r.packName or "?", r.ver or "")
end
local function format_contact(r)
  return string.format("%s <%s>", r.Name ~= "" and r.Name or "(no name)", r.Number or "")
end
local function format_message(r)
  local text = r.Content or ""
  if #text > 40 then
    -- Cut before a UTF-8 continuation byte, never inside a character.
    local n = 41
    while n > 1 and text:byte(n) >= 0x80 and text:byte(n) < 0xC0 do n = n - 1 end
    text = text:sub(1, n - 1) .. "..."
  end
  return string.format("%s: %s", r.Number or "?", text ~= "" and text or "(empty)")
end

-- One list request; done() is called once, when the list ended or failed.
local function fetch_list(manager, serial, code, title, fmt, done)
  local count, first, finished = 0, {}, false
  local function finish(text)
    if finished then return end
    finished = true
    say_f("  %s: %s", title, text)
    for i, line in ipairs(first) do say_f("    %d. %s", i, line) end
    if code == CONTACTS then apphelp_tour.backup_contacts(serial) end
    done()
  end
  local function records(status, list)
    if status == 2 then
      finish(count .. " in total")
      return
    end
    for _, r in ipairs(list or {}) do
      count = count + 1
      if code == CONTACTS then apphelp_tour.collect_contact(r) end
      if #first < SHOW_FIRST then first[#first + 1] = fmt(r) end
    end
  end
  manager:SendSocketMessage(code, function(kind, a, b, c)
    if kind == 6 then
      finish("the agent did not answer (connection failed)")
    elseif code == APPS then
      records(b, c)   -- (5, device id, status, records)
    else
      records(a, b)   -- (5, status, records)
    end
  end)
end

local keep = {}   -- socket managers stay referenced while the program runs

local function tour_device(serial, done)
  say_f("Device %s", serial)
  local remaining = #AGENT_PORTS
  local failed = false
  local function lists()
    say("  starting the agent (broadcast)")
    adb:StartBroadCast(serial, "agent", function(_, _, code)
      say_f("  agent start: %s (%d)", code == 5 and "ok" or "no answer from the agent app", code)
      local m = sockets:CreateAsyncSocket(serial)
      keep[#keep + 1] = m
      m:Init(function(id, code, ...)
        if code == 2 then return end   -- the event channel closed; nothing to show
        say_f("  notification from %s: %s", id, table.concat({tostring(code), ...}, " "))
      end)
      m:Connect()
      local todo = {
        {APPS, "apps", format_app},
        {CONTACTS, "contacts", format_contact},
        {MESSAGES, "messages", format_message},
      }
      local function one()
        local t = table.remove(todo, 1)
        if not t then
          local apk = os.getenv("TIVOREL_DEMO_APK")
          if not apk or apk == "" then
            apk = join(join(join(paths:get_current_exe_dir(), "xar"), "demo"), "com.tivorel.demo.apk")
          end
          say_f("  installing the demo app %s", apk)
          adb:InstallAPK(serial, "demo", apk, function(_, _, result)
            local meaning = ({[5] = "installed", [4] = "failed", [2000] = "not enough storage",
              [2001] = "not a valid package", [2002] = "needs a newer Android",
              [2003] = "package file not found", [2004] = "storage unavailable"})[result] or "?"
            say_f("  install result: %d (%s)", result, meaning)
            FileTour.run{serial = serial, say = say, tmpdir = paths:get_tmpdata_dir(), done = done}
          end)
          return
        end
        fetch_list(m, serial, t[1], t[2], t[3], one)
      end
      one()
    end)
  end
  for _, port in ipairs(AGENT_PORTS) do
    adb:ForwardTcpPort(serial, "fwd", port, port, function(_, _, code)
      if code ~= 5 then failed = true end
      remaining = remaining - 1
      if remaining == 0 then
        say_f("  forward tcp:%d and tcp:%d to the agent: %s", AGENT_PORTS[1], AGENT_PORTS[2],
          failed and "failed" or "ok")
        if failed then
          say("  skipping the agent: the ports could not be forwarded")
          done()
        else
          lists()
        end
      end
    end)
  end
end

-- Why the ADB server is not there, from what a "devices" command printed, with what to do.
local function explain_no_server(text)
  local on_windows = package.config:sub(1, 1) == "\\"
  local dir = paths:get_current_exe_dir()
  if not on_windows then dir = dir:gsub("\\", "/") end  -- shown as the user types it
  if text:find("cannot run the stock ADB client", 1, true) then
    say("The ADB client is missing: Tivorel talks to phones through the Android platform-tools' "
      .. "adb, and none was found.")
    if on_windows then
      say_f("  Put adb.exe, AdbWinApi.dll and AdbWinUsbApi.dll (Android SDK Platform-Tools) "
        .. "beside tivorel_help.exe in %s, or set TIVOREL_ADB to the full path of adb.exe, "
        .. "then start Tivorel again.", dir)
    else
      say_f("  Install it (Debian and Ubuntu: apt install adb), or put adb beside tivorel_help "
        .. "in %s, or set TIVOREL_ADB to its path, then start Tivorel again.", dir)
    end
  elseif text == "" then
    say_f("The ADB client tivorel_help could not be run from %s: reinstall Tivorel.", dir)
  else
    say("The ADB server did not start. The ADB client said:")
    for line in text:gmatch("[^\r\n]+") do say("  " .. line) end
  end
  say("Phones are left out of this tour.")
end

local adb_ok = false

add_step(function()
  say("Tivorel tour" .. (TivorelMacro and (" - " .. TivorelMacro.ProductName) or ""))
  adb:Init()
  say("Starting the ADB server")
  adb:StartServices("start", function()
    -- The start result carries no text: a listing shows whether a server answers.
    adb:AddAndroidCmd("tivorel_help.exe  devices", "probe", 0, 20000, 0, function(_, _, text)
      text = text or ""
      adb_ok = text:find("List of devices attached", 1, true) ~= nil
      if adb_ok then say("ADB server started") else explain_no_server(text) end
      next_step()
    end)
  end)
end)

add_step(function()
  if not adb_ok then next_step() return end
  adb:GetDevices("list", function(_, _, list)
    for _, d in ipairs(list) do
      if d.State == "device" then
        ready[#ready + 1] = d.DriverId
      else
        troubled[#troubled + 1] = {d.DriverId, d.State}
      end
    end
    next_step()
  end)
end)

-- The parsed list leaves out unauthorized devices and a few other states; the client's own
-- listing shows them all.
add_step(function()
  if not adb_ok then next_step() return end
  adb:AddAndroidCmd("tivorel_help.exe  devices", "all", 0, 20000, 0, function(_, _, text)
    for line in (text or ""):gmatch("[^\r\n]+") do
      local serial, state = line:match("^(%S+)%s+(.-)%s*$")
      if serial and state ~= "" and not line:find("^List of devices") and not line:find("^%*")
        and state ~= "device" and not contains(ready, serial) then
        local known = false
        for _, t in ipairs(troubled) do if t[1] == serial then known = true end end
        if not known then troubled[#troubled + 1] = {serial, state} end
      end
    end
    if #ready == 0 and #troubled == 0 then
      say("No device is attached.")
      say("  Connect an Android phone by USB with USB debugging on (Settings > Developer "
        .. "options), or run scripts/run.sh without TIVOREL_REAL_DEVICE to tour a virtual phone.")
    else
      say_f("Devices: %d ready, %d not ready", #ready, #troubled)
    end
    for _, t in ipairs(troubled) do
      local advice = ADVICE[t[2]] or ("the device is " .. t[2] .. "; reconnect it")
      say_f("Device %s is %s: %s", t[1], t[2], advice)
    end
    if port_owner.server_failed(text) then
      say("The ADB server could not start.")
      port_owner.explain(say, next_step)
      return
    end
    next_step()
  end)
end)

-- Recognised USB devices, as they come and go.
add_step(function()
  require("luacode.UsbTour").start(say, adb, next_step)
end)

add_step(function()
  -- The agent's ports on the PC are fixed, so devices are visited one at a time: each visit
  -- forwards them to its own device.
  local i = 0
  local function visit()
    i = i + 1
    if not ready[i] then next_step() return end
    tour_device(ready[i], visit)
  end
  visit()
end)

add_step(function()
  local port = os.getenv("TIVOREL_DEMO_PORT") or "8080"
  local url = os.getenv("TIVOREL_DEMO_URL")
  if not url or url == "" then url = "http://127.0.0.1:" .. port .. "/demo.bin" end
  local target = join(join(paths:get_tmpdata_dir(), "tour"), "demo.bin")
  os.remove(target)
  say_f("Downloading %s", url)
  downloads:Init(function() end)
  -- Type 7: a demo task, never written to the download database.
  downloads:DownLoadFile(url, target, 7, "demo", "", function(_, pos, size, state)
    if state == 1 then
      say_f("  progress: %d of %d bytes", pos, size)
    elseif state == 5 then
      say_f("  download finished: %d bytes in %s", size, target)
      next_step()
    else
      say_f("  download failed after %d bytes (is the demo server running? set "
        .. "TIVOREL_DEMO_URL or TIVOREL_DEMO_PORT)", pos)
      next_step()
    end
  end)
end)

add_step(function()
  if os.getenv("TIVOREL_TOUR_QUIT") == "1" then
    say("Tour finished.")
    shell:PostQuitMessage()
  else
    say("Tour finished. Tivorel keeps running; press Ctrl-C to quit.")
  end
end)

next_step()
