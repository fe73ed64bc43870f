-- Later starts of the program hand their command lines to this running one. The package starts
-- them itself, a few at a time, and starts the next few only when the previous ones have
-- arrived: 50 lines of this length fill the shared area about twice over, so all of them can
-- only arrive if every read empties it.
local T = require("hosttest")
local app = _G["AppHelp.Object"]
local shell = _G["Win32Shell.Object"]
local SEP = package.config:sub(1, 1)
local TOTAL, BATCH = 50, 5

local host = app:GetExeDir() .. (SEP == "/" and "tivorel" or "tivorel.exe")
if SEP == "/" then host = host:gsub("\\", "/") end

local received, started, busy = {}, 0, false
-- Each start is made directly, with no command interpreter in between (one under Wine once failed
-- to find the program and the line never came), and waited for before the next, so that the lines
-- arrive in the order of the starts. The time limit keeps a start that hangs from hanging the test.
local function start_next(left)
  if started >= TOTAL then
    busy = false
    return
  end
  if left == 0 then
    busy = false
    -- The batch's lines may all have arrived while it was being started.
    if #received == started then start_next(BATCH) end
    return
  end
  busy = true
  started = started + 1
  local n = started
  shell:AsynCreateProcess('"' .. host .. '" -type:7 -url:"http://example.test/a b.apk" /flag -n:' .. n, 60000,
    function(_, result)
      T.equal(result, 0, "start " .. n .. " ran")
      start_next(left - 1)
    end)
end

app:AttachCommandEvent(function(switches)
  local n = tonumber(switches.n)
  T.check(n ~= nil, "a forwarded line has its number")
  if n then received[#received + 1] = n end
  T.equal(switches.type, "7", "type switch as text")
  T.equal(switches.url, "http://example.test/a b.apk", "quoted value with a blank")
  T.equal(switches.flag, "", "switch without value")
  if #received == TOTAL then
    for i = 1, TOTAL do T.equal(received[i], i, "arrival order") end
    T.finish()
  elseif #received == started and not busy then
    start_next(BATCH)
  end
end)

start_next(BATCH)
