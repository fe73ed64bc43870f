-- "AsyncProcess.Manager" in the real host, with the fake client beside it as the child: each
-- parse mode's arguments, a command that cannot start, a cancelled command that never calls.
local T = require("hosttest")
local P = _G["AsyncProcess.Manager"]

local badging = "package: name='com.example.app' versionCode='1'\n" ..
  "application-label:'Example'\napplication: label='Example' icon='res/icon.png'\n"
local ss_line = 'LISTEN 0 4096 127.0.0.1:5037 0.0.0.0:* users:((""adb"",pid=4321,fd=7))'
local netstat = "  TCP    127.0.0.1:5037         0.0.0.0:0              LISTENING       977"

local calls = {}
local raw_id
local expected = 10
local function done(name, ...)
  calls[name] = { n = select("#", ...), ... }
  local count = 0
  for _ in pairs(calls) do count = count + 1 end
  if count == expected then
    T.run("results", function()
      T.equal(calls.raw[2], "hello, world", "mode 0 output")
      T.equal(calls.raw[1], raw_id, "mode 0 id")
      T.equal(calls.malformed[2], "a\239\191\189b\239\191\189", "malformed UTF-8 becomes U+FFFD")
      T.equal(calls.badging.n, 4, "mode 1 argument count")
      T.equal(calls.badging[2], "com.example.app", "package")
      T.equal(calls.badging[3], "Example", "label")
      T.equal(calls.badging[4], "res/icon.png", "icon")
      T.equal(calls.ss.n, 2, "mode 2 with an owner")
      T.equal(calls.ss[2], 4321, "ss owner")
      T.equal(calls.netstat[2], 977, "netstat owner")
      T.equal(calls.none.n, 1, "mode 2 without an owner: the id alone")
      T.equal(calls.missing0.n, 2, "cannot start, mode 0")
      T.equal(calls.missing0[2], "", "empty output")
      T.equal(calls.missing1.n, 4, "cannot start, mode 1")
      T.check(calls.missing1[2] == "" and calls.missing1[3] == "" and calls.missing1[4] == "",
        "three empty strings")
      T.equal(calls.missing2.n, 1, "cannot start, mode 2")
      T.equal(calls.cancelled, nil, "a cancelled command never calls")
      T.equal(calls.after[2], "after", "the command behind the cancelled one")
    end)
    T.finish()
  end
end

T.run("queue", function()
  P:Init()
  P:Init()
  raw_id = P:AddCommand("fake_adb.exe out hello, err \" world\"", 0, -1,
    function(...) done("raw", ...) end)
  P:AddCommand("fake_adb.exe hex 61ff62c3", 0, -1, function(...) done("malformed", ...) end)
  P:AddCommand("fake_adb.exe out \"" .. badging .. "\"", 1, -1, function(...) done("badging", ...) end)
  P:AddCommand("fake_adb.exe out \"" .. ss_line .. "\"", 2, -1, function(...) done("ss", ...) end)
  P:AddCommand("fake_adb.exe out \"" .. netstat .. "\"", 2, -1, function(...) done("netstat", ...) end)
  P:AddCommand("fake_adb.exe out nothing", 2, -1, function(...) done("none", ...) end)
  for mode = 0, 2 do
    P:AddCommand("tivorel_no_such_program.exe", mode, -1,
      function(...) done("missing" .. mode, ...) end)
  end
  local forever = P:AddCommand("fake_adb.exe forever", 0, -1, function(...) done("cancelled", ...) end)
  P:CancleTask(forever)
  P:AddCommand("fake_adb.exe out after", 0, 10000, function(...) done("after", ...) end)

  local ok = pcall(P.AddCommand, P, "fake_adb.exe out x", "not a mode", -1, function() end)
  T.check(not ok, "a mode that is no number is an argument error")
end)
