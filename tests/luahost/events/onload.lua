-- Listener containers as the Lua code uses them.
local T = require("hosttest")
local probe = _G["Probe.Object"]
local log = {}
local function listener(name)
  return function(n, t) log[#log + 1] = name .. n .. "/" .. t.value end
end
local function reset()
  while probe:Count() > 0 do
    for c = 1, 100 do probe:DetachEvent(c) end
  end
  log = {}
end

T.run("cookies are 1, 2, 3 and never reused", function()
  local a = probe:AttachEvent(listener("a"))
  local b = probe:AttachEvent(listener("b"))
  local c = probe:AttachEvent(listener("c"))
  T.equal(a .. "," .. b .. "," .. c, "1,2,3", "first cookies")
  probe:DetachEvent(c)
  probe:DetachEvent(b)
  T.equal(probe:AttachEvent(listener("d")), 4, "cookie after detaches")
  probe:DetachEvent(4)
  probe:DetachEvent(1)
end)

T.run("detach", function()
  reset()
  for i = 1, 3 do probe:AttachEvent(listener("l" .. i)) end  -- cookies 5, 6, 7
  probe:DetachEvent(6)
  probe:DetachEvent(0)
  probe:DetachEvent(6)
  probe:DetachEvent(1234)
  T.equal(select("#", probe:DetachEvent(5.9)), 0, "detach returns nothing")  -- truncated to 5
  probe:Fire(2)
  T.equal(table.concat(log, " "), "l32/2", "only cookie 7 is left")
  T.check(not pcall(probe.DetachEvent, probe, "x"), "a cookie that is not a number raises")
  T.equal(select("#", probe:AttachEvent("no function")), 0, "attach without a function")
  T.equal(probe:Count(), 1, "nothing attached by it")
end)

T.run("a method called with . does nothing", function()
  reset()
  probe:AttachEvent(listener("kept"))
  T.check(not pcall(function() probe.DetachEvent(8) end), "detach with . is rejected")
  T.check(not pcall(function() probe.AttachEvent(listener("x")) end), "attach with . is rejected")
  T.check(not pcall(function() probe.Fire(1) end), "fire with . is rejected")
  T.check(not pcall(function() _G["Probe.Lazy"].Ping(probe) end), "another class is rejected")
  T.equal(probe:Count(), 1, "listeners unchanged")
  probe:Fire(5)
  T.equal(table.concat(log, " "), "kept5/5", "the kept listener alone")
end)

T.run("a listener that raises does not stop the others", function()
  reset()
  probe:AttachEvent(listener("first"))
  probe:AttachEvent(function() error("listener raises on purpose") end)
  probe:AttachEvent(function(n) local x = nil; return x.field end)
  probe:AttachEvent(listener("last"))
  probe:Fire(1)
  probe:Fire(2)
  T.equal(table.concat(log, " "), "first1/1 last1/1 first2/2 last2/2", "calls")
end)

T.finish()
