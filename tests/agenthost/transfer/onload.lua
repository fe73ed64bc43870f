-- "SendFile.Manager.Class", "GetFile.Manager.Class" and "DirCopy.Manager.Class" as the user
-- interface uses them, against the agent simulator's file services. Each step starts the next
-- from its last callback.
local T = require("hosttest")
local sim = _G["AgentSim.Object"]
local factory = _G["LuaAsyncSocketFactory"]

local function ctl(json) return sim:Control(json) end
local function ok(answer) return answer:find('"ok": true', 1, true) ~= nil end
local function field(answer, name) return tonumber(answer:match('"' .. name .. '": (%d+)')) end

local ports = ctl('{"op": "ports"}')
local SEND, GET = field(ports, "send_port"), field(ports, "get_port")
-- Paths in the Windows form the user interface uses; the host takes either separator.
local root = sim:Folder():gsub("/", "\\")
local pc, phone = root .. "\\pc", root .. "\\phone"

-- Lua's own io gets the system's form.
local function native(path) return (path:gsub("\\", "/")) end
local function write(path, bytes)
  local f = assert(io.open(native(path), "wb"))
  f:write(bytes)
  f:close()
end
local function read(path)
  local f = io.open(native(path), "rb")
  if not f then return nil end
  local s = f:read("*a")
  f:close()
  return s
end
local function mkdir(path) os.execute('mkdir -p "' .. native(path) .. '"') end

local big = string.rep("0123456789abcdef", 70000)  -- 1120000 bytes: three chunks
mkdir(pc .. "\\Album\\Sub")
write(pc .. "\\Album\\Pic1.JPG", big)
write(pc .. "\\Album\\Sub\\Clip.MP4", "clip")

local next_step = T.next_step

local keep = {}

T.step("step 1", function()
  T.check(factory:CreateSendFile("dev-1", SEND) ~= nil, "CreateSendFile gives an object")
  T.check(not pcall(factory.CreateGetFile, factory, "dev-1"), "CreateGetFile needs a port")
  T.check(not pcall(factory.CreateCopyDir, factory), "CreateCopyDir needs a device id")
  local s = factory:CreateSendFile("dev-1", SEND)
  T.equal(s:TestConnect(), true, "TestConnect to the agent")
  T.equal(select("#", factory:CreateSendFile("dev-1", 1):TestConnect()), 0, "TestConnect to nothing")
  s:delete_self()
  next_step()
end)

T.step("step 2", function()
  local s = factory:CreateSendFile("dev-1", SEND)
  keep.send = s
  s:Init()
  local progress, last = 0, -1
  local id
  id = s:SendCommonFile("/sdcard/Recv", pc .. "\\Album", function(dev, task, current, status, done, total)
    T.equal(dev, "dev-1", "device id first")
    T.equal(task, id, "task id")
    T.equal(total, #big + 4, "total of the folder")
    T.check(done >= last, "transferred only grows")
    last = done
    if status == 1 then
      progress = progress + 1
      return
    end
    T.equal(status, 5, "folder sent")
    T.equal(done, #big + 4, "all bytes sent")
    T.equal(progress, 4, "one report per chunk")
    T.check(current:find("Clip.MP4", 1, true) ~= nil, "current file is the last one: " .. current)
    T.check(read(phone .. "\\sdcard\\Recv\\pic1.jpg") == big, "lower-cased name, contents arrive")
    T.equal(read(phone .. "\\sdcard\\Recv\\sub\\clip.mp4"), "clip", "nested path with '/'")
    s:UnInit()
    keep.send = nil
    next_step()
  end)
  T.equal(id, 1, "first task id")
end)

T.step("step 3", function()
  local g = factory:CreateGetFile("dev-1", GET)
  keep.get = g
  g:Init()
  local pieces, got = 0, 0
  local target = pc .. "\\back\\pic1.jpg"
  g:GetFileTask("/sdcard/Recv/pic1.jpg", target, function(dev, task, status, path, n)
    T.equal(path, target, "local path back")
    if status == 1 then
      pieces = pieces + 1
      got = got + n
      return
    end
    T.equal(status, 5, "file fetched")
    T.equal(n, #big, "total")
    T.equal(got, #big, "pieces add up")
    T.check(pieces >= 1, "progress reported")
    T.check(read(target) == big, "the same bytes")
    next_step()
  end)
end)

T.step("step 4", function()
  local g = keep.get
  T.check(ok(ctl('{"op": "file_fault", "mode": "close_mid_file"}')), "fault queued")
  local failed = pc .. "\\back\\cut.jpg"
  local order = {}
  g:GetFileTask("/sdcard/Recv/pic1.jpg", failed, function(dev, task, status, path, n)
    if status ~= 1 then order[#order + 1] = task .. ":" .. status end
    if status == 6 then
      T.equal(read(failed), nil, "a reply cut short leaves no file")
      sim:Later(100, function() g:ContinueNextTask() end)
    end
  end)
  g:GetIconTask("com.example.app", pc .. "\\back\\icon.png", function(dev, task, status, path, n)
    if status == 1 then return end
    order[#order + 1] = task .. ":" .. status
    T.equal(table.concat(order, " "), "2:6 3:5", "the cut reply fails, the queued one runs after ContinueNextTask")
    T.equal(read(pc .. "\\back\\icon.png"), "ICON:com.example.app", "icon bytes")
    g:UnInit()
    keep.get = nil
    next_step()
  end)
end)

T.step("step 5", function()
  local s = factory:CreateSendFile("dev-1", SEND)
  keep.send = s
  s:Init()
  T.check(ok(ctl('{"op": "file_fault", "mode": "no_answer"}')), "fault queued")
  local calls = 0
  local id = s:SendApp("/data/local/tmp/", pc .. "\\Album\\Sub\\Clip.MP4", function() calls = calls + 1 end)
  local function after_cancel()
    sim:Later(300, function()
      local seen = calls
      T.equal(seen, 1, "only the chunk's report, nothing after the cancel")
      -- The object still works.
      s:SendMusicFile("/sdcard/Music/", pc .. "\\Album\\Sub\\Clip.MP4", function(_, _, _, status)
        if status == 1 then return end
        T.equal(status, 5, "next send finishes")
        local r = ctl('{"op": "received"}')
        T.check(r:find('"code": 20, "path": "/data/local/tmp/Clip.MP4"', 1, true) ~= nil, "app code and name case")
        T.check(r:find('"code": 107, "path": "/sdcard/Music/Clip.MP4"', 1, true) ~= nil, "music code")
        s:delete_self()
        keep.send = nil
        next_step()
      end)
    end)
  end
  local tries = 0
  local function wait()
    tries = tries + 1
    if ok(ctl('{"op": "wait_received", "count": 3, "timeout": 0.01}')) and calls == 1 then
      s:CancleTask(id)
      after_cancel()
    elseif tries > 400 then
      T.check(false, "the silent agent never got the file")
      T.finish()
    else
      sim:Later(25, wait)
    end
  end
  wait()
end)

T.step("step 6", function()
  local c = factory:CreateCopyDir("dev-1")
  keep.copy = c
  c:Init()
  local target = pc .. "\\Copy Of"
  c:CopyDir(target, pc .. "\\Album", function(dev, task, current, status, done, total)
    if status == 1 then return end
    T.equal(status, 5, "folder copied")
    T.equal(done, total, "every byte")
    T.check(read(target .. "\\pic1.jpg") == big, "copy lower-cased below the target")
    T.equal(read(target .. "\\sub\\clip.mp4"), "clip", "nested copy")
    c:CopyDir(target, pc .. "\\missing", function(_, _, _, st)
      T.equal(st, 3000, "a missing source")
      c:UnInit()
      keep.copy = nil
      next_step()
    end)
  end)
end)

next_step()
