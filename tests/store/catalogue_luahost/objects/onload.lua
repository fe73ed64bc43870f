-- The catalogue and update requests, URL resolution and the reporter in the real host.
local T = require("hosttest")
local hr = _G["HttpRequest.Manager"]
local loc = _G["AsyncGetURLLocate.Manager"]
local dr = _G["DataReport.Manager"]

local env = {}
do
  local f = assert(io.open(dofile(T.dir .. "fixture_place.lua"), "r"))
  for line in f:lines() do
    local k, v = line:match("^([%w_]+)=(.*)$")
    if k then env[k] = v end
  end
  f:close()
end
local origin = "http://127.0.0.1:" .. env.nginx_port
local function write(path, data)
  local f = assert(io.open(path, "wb"))
  f:write(data)
  f:close()
end
local windows = package.config:sub(1, 1) == "\\"
local function mkdir(path)
  if windows then
    os.execute('mkdir "' .. path:gsub("/", "\\") .. '" 2>NUL')
  else
    os.execute('mkdir -p "' .. path .. '"')
  end
end
local function update_lines()
  local f = io.open(env.access_log, "r")
  local log = f and f:read("*a") or ""
  if f then f:close() end
  local uris = {}
  for uri in log:gmatch("(/gengxin/[^ ]*)") do uris[#uris + 1] = uri end
  return uris
end
local update_lines_before = 0
local function serve(name, body)
  write(env.www .. "/" .. name, body)
  return origin .. "/" .. name
end

local next_step = T.next_step
T.after_steps = function() loc:UnInit() end

T.step("the update check asks the configured endpoint", function()
  update_lines_before = #update_lines()
  write(T.dir .. "../Profiles/config.ini",
        "[basic]\r\nappver=3.0 beta\r\nupdateserver=" .. origin .. "\r\n")
  mkdir(env.www .. "/gengxin")
  write(env.www .. "/gengxin/update.php", '{"is":1,"url":"http://h/S.exe","last":"3.1"}')
  hr:CheckUpdate(function(t)
    T.equal(t.Update, 1, "Update")
    T.equal(t.DownloadUrl, "http://h/S.exe", "DownloadUrl")
    T.equal(t.NewVer, "3.1", "NewVer")
    T.equal(t.updateType, 1, "updateType")
    T.equal(t.Content, "", "Content")
    next_step()
  end)
end)

T.step("catalogue requests in order, a cancelled one silent", function()
  local got = {}
  local u1 = serve("lh_t1.json", '[{"Id":1,"Pid":0,"Si_Name":"Apps"}]')
  local u3 = serve("lh_t3.json", '%5B%7B%22Id%22%3A5%2C%22S_FileSize%22%3A2048%7D%5D')
  local a = hr:HttpRequest(1, u1, function(t)
    got[#got + 1] = "a"
    T.equal(#t, 1, "one category")
    T.equal(t[1].Name, "Apps", "category name")
  end)
  local b = hr:HttpRequest(1, u1, function() got[#got + 1] = "b" end)
  T.equal(b, a + 1, "consecutive ids")
  hr:Cancle(b)
  hr:HttpRequest(1, serve("lh_bad.json", "{oops"), function() got[#got + 1] = "bad" end)
  hr:HttpRequest(3, u3, function(t)
    got[#got + 1] = "c"
    T.equal(t[1].Id, 5, "Id")
    T.equal(t[1].FileSize, 2048, "FileSize")
    T.equal(t[1].Name, "", "missing Name")
    T.equal(table.concat(got, " "), "a c", "order and silence")
    -- nginx's one worker wrote the update check's line before it answered these requests.
    local uris = update_lines()
    T.equal(#uris, update_lines_before + 1, "one update check")
    T.equal(uris[#uris], "/gengxin/update.php?v=3.0%20beta", "the update URL")
    next_step()
  end)
end)

T.step("URLs resolve where their redirects end", function()
  loc:Init()
  local first
  first = loc:AddCommand(origin .. "/hop2", function(id, url)
    T.equal(id, first, "task id")
    T.equal(url, origin .. "/hop0", "resolved")
    loc:CancleAllTask()
    loc:AddCommand(origin .. "/hop1", function(id2, url2)
      T.equal(id2, first + 1, "next id")
      T.equal(url2, origin .. "/hop0", "resolved after CancleAllTask")
      next_step()
    end)
  end)
end)

T.run("reports are collected and arguments checked", function()
  T.equal(select("#", dr:Report({page = "home", n = 5, [3] = "x", skip = {}})), 0, "no results")
  T.equal(pcall(dr.Report, dr, "not a table"), false, "a table is required")
  T.equal(pcall(dr.Report, hr, {}), false, "another object is refused")
  T.equal(pcall(hr.HttpRequest, hr, "x", "http://h/"), false, "the type is a number")
  T.equal(pcall(hr.Cancle, hr), false, "Cancle needs an id")
  T.equal(pcall(loc.AddCommand, loc), false, "AddCommand needs a URL")
  hr:Cancle(12345)
  loc:CancleTask(12345)
end)
next_step()
