-- "Socket.Manager.Class" and "LuaAsyncSocketFactory" as the user interface uses them, against the
-- agent simulator on the agent's ports. The steps run one after another, each starting the next
-- from its last callback.
local T = require("hosttest")
local sim = _G["AgentSim.Object"]
local factory = _G["LuaAsyncSocketFactory"]

local function ctl(json) return sim:Control(json) end
local function ok(answer) return answer:find('"ok": true', 1, true) ~= nil end

local next_step = T.next_step

-- Calls k once the simulator reports what `json` waits for (polled on the loop, never blocking it).
local function when(json, k, tries)
  tries = tries or 200
  if ok(ctl(json)) then
    k()
  elseif tries == 0 then
    T.check(false, "timed out waiting for " .. json)
    T.finish()
  else
    sim:Later(25, function() when(json, k, tries - 1) end)
  end
end

local keep = {}  -- managers stay referenced until their step is over

T.step("step 1", function()
  local m = factory:CreateAsyncSocket("dev-1")
  keep.ports = m
  local p = {}
  for kind = 0, 4 do p[#p + 1] = m:GetForwardPort(kind) end
  T.equal(table.concat(p, ","), "12157,12158,12159,12156,0", "forward ports by kind")
  T.equal(select("#", factory:CreateAsyncSocket(12)), 0, "a device id must be a string")
  next_step()
end)

T.step("step 2", function()
  local m = factory:CreateAsyncSocket("dev-1")
  keep.list = m
  local calls = {}
  local first = m:SendSocketMessage(14, function(kind, status, records)
    calls[#calls + 1] = kind .. ":" .. status .. (records and (":" .. #records) or "")
    if status == 0 then
      T.equal(records[1].Name, "Ann Example", "first contact's name")
      T.equal(records[3].Number, "13800138000", "third contact's number")
    end
    if status == 2 then
      T.equal(table.concat(calls, " "), "5:0:3 5:1:2 5:2", "a list in three frames")
      keep.list = nil
      next_step()
    end
  end)
  local second = m:SendSocketMessage(38, 7, "no callback")
  T.equal(first .. "," .. second, "1,2", "request ids count from 1")
end)

T.step("step 3", function()
  local m = factory:CreateAsyncSocket("dev-1")
  keep.cancel = m
  T.check(ok(ctl('{"op": "fault", "mode": "coalesce", "code": 47}')), "fault queued")
  local calls = 0
  local id
  id = m:SendSocketMessage(47, function(kind, status)
    calls = calls + 1
    m:CancleTask(id)
    m:CancleTask(id)
    sim:Later(300, function()
      T.equal(calls, 1, "nothing after a cancel from inside the callback")
      when('{"op": "wait_idle", "timeout": 0.01}', next_step)
    end)
  end)
end)

T.step("step 4", function()
  local m = factory:CreateAsyncSocket("dev-1")
  keep.huge = m
  T.check(ok(ctl('{"op": "fault", "mode": "huge", "code": 54}')), "fault queued")
  m:SendSocketMessage(54, function(kind, id)
    T.equal(kind .. " " .. tostring(id), "6 dev-1", "an oversized frame ends the request as an error")
    when('{"op": "wait_idle", "timeout": 0.01}', next_step)
  end)
end)

T.step("step 5", function()
  local m = factory:CreateAsyncSocket("dev-1")
  keep.events = m
  local heard = {}
  local phase = "notify"
  m:Init(function(...)
    heard[#heard + 1] = table.concat({...}, " ")
    if phase == "notify" and #heard == 2 then
      T.equal(heard[1], "dev-1 19 battery 80%", "notification 19")
      T.equal(heard[2], "dev-1 107 1 5 6 /sdcard/a /sdcard/b a.jpg 7 3145728 1", "notification 107")
      phase = "error"
      heard = {}
      T.check(ok(ctl('{"op": "drop_events", "how": "reset"}')), "reset sent")
    elseif phase == "error" then
      T.equal(heard[1], "dev-1 2", "an event channel error")
      m:UnInit()
      m:Connect()
      next_step()
    end
  end)
  m:Init(function() heard[#heard + 1] = "second listener" end)
  m:Connect()
  when('{"op": "wait_subscribed", "timeout": 0.01}', function()
    T.check(ok(ctl('{"op": "notify", "codes": [19, 107], "mode": "split"}')), "notified")
  end)
end)

next_step()
