-- Helper for Lua host tests: checks, a protected runner, and the result file the harness reads.
--
--   local T = require("hosttest")
--   T.run("cookies", function() T.equal(obj:Attach(f), 1, "first cookie") end)
--   T.finish()   -- writes PASS when nothing failed, then posts the quit message
--   T.step("later", function() obj:Start(function() T.next_step() end) end)  T.next_step()
local M = {}

local source = debug.getinfo(1, "S").source
M.dir = source:match("^@(.*[\\/])") or ""
local result_path = M.dir .. "hosttest.result"
local failures = 0

function M.record(line)
  local f = io.open(result_path, "a")
  if f then
    f:write(line, "\n")
    f:close()
  end
end

function M.check(cond, what)
  if not cond then
    failures = failures + 1
    M.record("FAIL " .. tostring(what))
  end
  return cond
end

function M.equal(got, want, what)
  return M.check(got == want,
    string.format("%s: got %s, want %s", tostring(what), tostring(got), tostring(want)))
end

-- Runs body; an error in it is a failure, not the end of the test run.
function M.run(name, body)
  local ok, err = xpcall(body, debug.traceback)
  if not ok then M.check(false, name .. " raised: " .. tostring(err)) end
end

function M.failures() return failures end

-- Steps that end later (on a callback) run one after another: M.step(name, body) adds one, and
-- each body ends by calling M.next_step(), which runs the next one or, after the last, calls
-- M.after_steps (when set) and finishes.
local steps, current = {}, 0
function M.step(name, body) steps[#steps + 1] = {name = name, run = body} end
function M.next_step()
  current = current + 1
  local s = steps[current]
  if not s then
    if M.after_steps then M.run("after the steps", M.after_steps) end
    M.finish()
    return
  end
  M.run(s.name, s.run)
end

-- Reports the outcome and ends the host through its quit message.
function M.finish()
  if failures == 0 then M.record("PASS") end
  _G["Win32Shell.Object"]:PostQuitMessage()
end

return M
