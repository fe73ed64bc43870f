-- Later starts of the program hand their command lines to this running one. The package starts
-- them itself, a few at a time, and starts the next few only when the previous ones have
-- arrived: 50 lines of this length fill the shared area about twice over, so all of them can
-- only arrive if every read empties it.
local T = require("hosttest")
local app = _G["AppHelp.Object"]
local SEP = package.config:sub(1, 1)
local TOTAL, BATCH = 50, 5

local host = app:GetExeDir() .. (SEP == "/" and "tivorel" or "tivorel.exe")
if SEP == "/" then host = host:gsub("\\", "/") end

local received, started = {}, 0
local function start_batch()
  for _ = 1, BATCH do
    if started >= TOTAL then return end
    started = started + 1
    local ok = os.execute(host .. ' -type:7 -url:"http://example.test/a b.apk" /flag -n:' .. started)
    T.check(ok == 0 or ok == true, "start " .. started .. " ran: " .. tostring(ok))
  end
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
  elseif #received == started then
    start_batch()
  end
end)

start_batch()
