-- A package written for Windows: it builds every path from what the path utility gives (Windows
-- form, "\" separators) and hands it to Lua's own file functions, which must take it on every
-- system. Chunks are named with the system's one separator.
local T = require("hosttest")
local paths = _G["qv.filesystem.path_utility"]

local tmp = paths:get_tmpdata_dir()
local exe = paths:get_current_exe_dir()
T.check(tmp:find("\\", 1, true) ~= nil, "the temporary folder is in the Windows form: " .. tmp)
local sep = package.config:sub(1, 1)
local function native(p) return (p:gsub("\\", sep)) end
local work = tmp .. "paths_" .. tostring(os.time()) .. "_" .. tostring(math.random(1000000))

T.run("io.open, io.lines, os.rename, os.remove", function()
  local f = assert(io.open(work .. ".txt", "w"))
  f:write("one\ntwo\n")
  f:close()
  local lines = {}
  for l in io.lines(work .. ".txt") do lines[#lines + 1] = l end
  T.equal(table.concat(lines, ","), "one,two", "lines read back")
  T.check(os.rename(work .. ".txt", work .. ".moved"), "renamed")
  T.check(io.open(work .. ".txt") == nil, "the old name is gone")
  T.check(os.remove(work .. ".moved"), "removed")
  T.check(io.open(work .. ".moved") == nil, "the new name is gone")
end)

T.run("dofile and loadfile name the chunk with one separator", function()
  local f = assert(io.open(work .. ".lua", "w"))
  f:write("return debug.getinfo(1, 'S').source")
  f:close()
  T.equal(dofile(work .. ".lua"), "@" .. native(work) .. ".lua", "dofile")
  T.equal(assert(loadfile(work .. ".lua"))(), "@" .. native(work) .. ".lua", "loadfile")
  os.remove(work .. ".lua")
end)

T.run("require searches a package.path written with backslashes", function()
  local before = exe .. "xar\\lib\\?.lua;" .. package.path
  package.path = before
  local m = require("winmod")
  T.equal(m.source, "@" .. native(exe .. "xar\\lib\\winmod.lua"), "the module's chunk name")
  T.equal(package.path, before, "package.path is left as the package wrote it")
end)

T.finish()
