-- "DownloadManger.Manager" in the real host against nginx: the Init callback, tasks one at a
-- time in id order, stop and resume, a failure that keeps the temporary file, and cancel.
local T = require("hosttest")
local dm = _G["DownloadManger.Manager"]

-- The fixture's servers.
local env = {}
do
  local f = assert(io.open(dofile(T.dir .. "fixture_place.lua"), "r"))
  for line in f:lines() do
    local k, v = line:match("^([%w_]+)=(.*)$")
    if k then env[k] = v end
  end
  f:close()
end
local base = "http://127.0.0.1:" .. env.nginx_port .. "/"
local out = T.dir .. "../downloads/"

local function pattern(n, seed)
  local parts, x = {}, seed
  for i = 1, n do
    x = (x * 1103515245 + 12345) % 2147483648
    parts[i] = string.char(math.floor(x / 8388608) % 256)
  end
  return table.concat(parts)
end
local function serve(name, size, seed)
  local block = pattern(4096, seed)
  local data = string.rep(block, math.floor(size / 4096)) .. block:sub(1, size % 4096)
  local f = assert(io.open(env.www .. "/" .. name, "wb"))
  f:write(data)
  f:close()
  return base .. name, data
end
local function read(path)
  local f = io.open(path, "rb")
  if not f then return nil end
  local d = f:read("*a")
  f:close()
  return d
end

local next_step = T.next_step

T.step("Init hands over the stored tasks once", function()
  local calls, inside = 0, true
  dm:Init(function(tasks)
    calls = calls + 1
    T.equal(inside, false, "called after Init returned")
    T.equal(type(tasks), "table", "a table")
    T.equal(#tasks, 0, "a fresh database has no tasks")
    next_step()
  end)
  dm:Init(function() T.check(false, "the second Init is ignored") end)
  inside = false
end)

T.step("two tasks run in id order", function()
  local ua, a = serve("lh_a.bin", 300000, 1)
  local ub, b = serve("lh_b.bin", 200000, 2)
  local order = {}
  local function done(id, pos, size, state)
    if state == 1 then
      T.check(#order == 0 or id ~= ida, "no progress of the first after it finished")
      return
    end
    order[#order + 1] = id .. ":" .. state
    if #order == 2 then
      T.equal(table.concat(order, " "), ida .. ":5 " .. idb .. ":5", "finished in id order")
      T.equal(read(out .. "a\\b\\a.bin") or read(out .. "a/b/a.bin"), a, "first file")
      T.equal(read(out .. "b.bin"), b, "second file")
      next_step()
    end
  end
  ida = dm:DownLoadFile(ua, out .. "a\\b\\a.bin", 1, "A", "", done)
  idb = dm:DownLoadFile(ub, out .. "b.bin", 1, "B", "", done)
  T.equal(idb, ida + 1, "consecutive ids")
end)

T.step("stop starts the next, restart resumes", function()
  local ubig, big = serve("lh_big.bin", 6 * 1048576, 3)
  local usmall, small = serve("lh_small.bin", 50000, 4)
  local stopped, after, reports = nil, nil, 0
  local idbig
  idbig = dm:DownLoadFile(ubig, out .. "big.bin", 1, "big", "", function(id, pos, size, state)
    if state == 1 then
      reports = reports + 1
      if not stopped then
        stopped = pos
        T.equal(size, #big, "the total size is known")
        dm:StopTask(id)
      elseif after == nil then
        after = pos
        T.check(after > stopped, "the resumed download goes on from the stopped position")
      end
    elseif state == 5 then
      T.equal(pos, #big, "finished at the full size")
      T.check(read(out .. "big.bin") == big, "the resumed file equals the source")
      T.equal(read(out .. "big.bin.tmp"), nil, "no temporary file left")
      next_step()
    else
      T.check(false, "unexpected state " .. state)
    end
  end)
  dm:DownLoadFile(usmall, out .. "small.bin", 1, "small", "", function(id, pos, size, state)
    if state == 5 then
      T.check(stopped ~= nil, "the small file ran after the stop")
      T.equal(read(out .. "small.bin"), small, "small file")
      dm:RestartTask(idbig)
    end
  end)
end)

T.step("a missing file fails and keeps the temporary file", function()
  local f = assert(io.open(out .. "gone.bin.tmp", "wb"))
  f:write("an earlier attempt")
  f:close()
  dm:DownLoadFile(base .. "lh_no_such_file.bin", out .. "gone.bin", 1, "", "",
    function(id, pos, size, state)
      T.equal(state, 4, "failed")
      T.equal(read(out .. "gone.bin.tmp"), "an earlier attempt", "temporary file kept")
      T.equal(read(out .. "gone.bin"), nil, "no target")
      dm:CancleTask(id)
      next_step()
    end)
end)

T.step("cancel the running task", function()
  local ubig = serve("lh_cancel.bin", 6 * 1048576, 5)
  local usmall, small = serve("lh_after.bin", 1000, 6)
  local cancelled = false
  dm:DownLoadFile(ubig, out .. "c.bin", 1, "", "", function(id, pos, size, state)
    T.equal(cancelled, false, "nothing after the cancel")
    if state == 1 then
      cancelled = true
      dm:CancleTask(id, true)
    end
  end)
  dm:DownLoadFile(usmall, out .. "after.bin", 7, "", "", function(id, pos, size, state)
    if state == 5 then
      T.check(cancelled, "the next task ran after the cancel")
      T.equal(read(out .. "after.bin"), small, "the next file")
      T.equal(read(out .. "c.bin"), nil, "the cancelled file is not there")
      next_step()
    end
  end)
end)

T.run("calls without the object are refused", function()
  T.equal(pcall(dm.GetNextTaskID), false, "no object")
  T.equal(pcall(dm.DownLoadFile, dm), false, "no URL")
end)
next_step()
