-- "LuaDispatchFactory" and "LuaDispatch.Class" as the user interface uses them: functions
-- registered from Lua, called by a page through the object's IDispatch ("Page.Object").
local T = require("hosttest")
local factory = _G["LuaDispatchFactory"]
local page = _G["Page.Object"]
local S_OK, E_FAIL = "00000000", "80004005"

T.run("objects", function()
  local d = factory:CreateLuaDispatch()
  T.equal(type(d), "userdata", "CreateLuaDispatch gives an object")
  local p = d:GetDispatch()
  T.equal(type(p), "userdata", "GetDispatch gives the IDispatch pointer")
  T.check(p == d:GetDispatch(), "the same pointer each time")
  T.check(p ~= factory:CreateLuaDispatch():GetDispatch(), "another object has another")
  T.check(not pcall(factory.CreateLuaDispatch), "CreateLuaDispatch with . is rejected")
  T.check(not pcall(d.GetDispatch, factory), "a method on another class's object is rejected")
  T.check(not pcall(d.RegisterFunction, "f", print), "RegisterFunction with . is rejected")
end)

T.run("a page call reaches the functions of its name", function()
  local d = factory:CreateLuaDispatch()
  local log = {}
  T.equal(d:RegisterFunction("pair", function(a, b)
    log[#log + 1] = "first"
    return a .. "," .. b
  end), 1, "first cookie")
  T.equal(d:RegisterFunction("pair", function(a, b)
    log[#log + 1] = "second"
    return b .. "," .. a
  end), 2, "second cookie")
  local hr, result = page:Call(d:GetDispatch(), "pair", 1, 2)
  T.equal(hr, S_OK, "call")
  T.equal(table.concat(log, " "), "first second", "both functions, in order")
  T.equal(result, "1,2", "the second function's result, of the arguments (2, 1)")
  hr, result = page:Call(d:GetDispatch(), "pair", "x", 0.5)
  T.equal(result, "x,0.5", "strings and fractions")
  T.equal(page:Call(d:GetDispatch(), "missing"), E_FAIL, "an unknown name")
end)

T.run("values both ways", function()
  local d = factory:CreateLuaDispatch()
  d:RegisterFunction("echo", function(x) return x end)
  d:RegisterFunction("kind", function(x) return type(x) end)
  local cases = {
    {42, "number", 42}, {-1.25, "number", -1.25}, {true, "boolean", true},
    {false, "boolean", false}, {"gr\xc3\xbc\xc3\x9fe \xe2\x82\xac", "string", "gr\xc3\xbc\xc3\x9fe \xe2\x82\xac"},
    {"", "string", ""},
  }
  for _, c in ipairs(cases) do
    local hr, kind = page:Call(d:GetDispatch(), "kind", c[1])
    T.equal(kind, c[2], "type in Lua of " .. tostring(c[1]))
    local hr2, back = page:Call(d:GetDispatch(), "echo", c[1])
    T.equal(hr .. hr2, S_OK .. S_OK, "calls with " .. tostring(c[1]))
    T.equal(back, c[3], "back to the page: " .. tostring(c[1]))
  end
end)

T.run("calls that fail", function()
  local d = factory:CreateLuaDispatch()
  local calls = 0
  d:RegisterFunction("f", function() calls = calls + 1 return {} end)
  T.equal(page:Call(d:GetDispatch(), "f", 1, {}), E_FAIL, "an object argument")
  T.equal(page:Call(d:GetDispatch(), "f", nil), E_FAIL, "an empty argument")
  T.equal(calls, 0, "nothing called for them")
  T.equal(page:Call(d:GetDispatch(), "f"), E_FAIL, "a table result")
  T.equal(calls, 1, "the function ran")
  d:RegisterFunction("raises", function() error("raised on purpose by the test") end)
  local hr, result = page:Call(d:GetDispatch(), "raises")
  T.equal(hr, S_OK, "a Lua error is no failure of the call")
  T.equal(result, nil, "and gives no result")
end)

T.run("unregister", function()
  local d = factory:CreateLuaDispatch()
  local log = {}
  local function logger(name) return function() log[#log + 1] = name return name end end
  local a = d:RegisterFunction("n", logger("a"))
  d:RegisterFunction("n", logger("b"))
  d:UnregisterFunction("n", a)
  local hr, result = page:Call(d:GetDispatch(), "n")
  T.equal(result, "b", "the cookie's function is gone")
  T.equal(select("#", d:UnregisterFunction("n")), 0, "UnregisterFunction returns nothing")
  hr, result = page:Call(d:GetDispatch(), "n")
  T.equal(hr, S_OK, "a name without functions answers")
  T.equal(result, nil, "with no result")
  T.equal(table.concat(log, " "), "b", "calls")
end)

T.run("registration without a function", function()
  local d = factory:CreateLuaDispatch()
  T.equal(d:RegisterFunction("plain", 5), 0, "cookie 0")
  local hr, id = page:Id(d:GetDispatch(), "plain")
  T.equal(hr, S_OK, "the name has a DISPID")
  T.check(id >= 10, "DISPIDs start at 10")
  T.equal(page:Call(d:GetDispatch(), "plain"), S_OK, "a call of it")
  local other = factory:CreateLuaDispatch()
  other:RegisterFunction("plain", print)
  local _, id2 = page:Id(other:GetDispatch(), "plain")
  T.equal(id2, id + 1, "one counter for every object")
  T.equal(select(2, page:Id(d:GetDispatch(), "plain")), id, "the first object keeps its DISPID")
end)

T.run("FireEvent and DetachEvent", function()
  local d = factory:CreateLuaDispatch()
  local calls = 0
  d:RegisterFunction("e", function() calls = calls + 1 end)
  T.equal(select("#", d:FireEvent("e", 1, "two", true)), 0, "FireEvent returns nothing")
  T.equal(select("#", d:FireEvent("e", {})), 0, "also with an argument without a variant")
  T.equal(select("#", d:DetachEvent("e")), 0, "DetachEvent returns nothing")
  T.equal(calls, 0, "no Lua function is called by them")
  T.equal(page:Call(d:GetDispatch(), "e"), S_OK, "the functions stay")
  T.equal(calls, 1, "called by the page")
end)

T.run("objects are collected", function()
  for i = 1, 200 do
    local d = factory:CreateLuaDispatch()
    d:RegisterFunction("f" .. i, function() return i end)
  end
  collectgarbage("collect")
  collectgarbage("collect")
  local d = factory:CreateLuaDispatch()
  d:RegisterFunction("after", function() return "still fine" end)
  T.equal(select(2, page:Call(d:GetDispatch(), "after")), "still fine", "after collection")
end)

T.finish()
