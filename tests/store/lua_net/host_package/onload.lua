-- The network and filesystem objects as the user interface uses them, inside the real host.
local T = require("hosttest")
local path = _G["qv.filesystem.path_utility"]
local path2 = _G["qv.pathsystem.path_utility"]
local dirs = _G["qv.filesystem.dir_utility"]
local files = _G["qv.filesystem.file_utility"]
local file_factory = _G["qv.win32.net.asyn_http_file.factory"]
local http_factory = _G["qv.win32.net.asyn_http.factory"]

T.run("one object under both names", function()
  T.check(type(path) == "userdata", "qv.filesystem.path_utility is there")
  T.check(rawequal(path, path2), "qv.pathsystem.path_utility is the same userdata")
end)

T.run("path examples", function()
  for _, p in ipairs({path, path2}) do
    T.equal(p:get_file_main_name([[C:\a\b.tar.gz]]), "b.tar", "main name")
    T.equal(p:get_file_ext([[C:\a\b.tar.gz]]), "gz", "extension")
    T.equal(p:get_file_ext([[C:\a\b]]), "", "no extension")
    T.equal(p:get_upper_dir([[C:\a\b\]]), [[C:\a\]], "upper dir with a trailing separator")
    T.equal(p:get_upper_dir([[C:\a\b]]), [[C:\a\]], "upper dir without")
    T.equal(p:get_path_root("x/y"), "x/", "root with forward slashes")
  end
end)

-- The servers of the test fixture.
local servers = {}
T.run("fixture", function()
  local f = assert(io.open(os.getenv("TIVOREL_HTTP_FIXTURE") .. "/fixture.env", "r"))
  for line in f:lines() do
    local k, v = line:match("^([%w_]+)=(.*)$")
    if k then servers[k] = v end
  end
  f:close()
end)

local work = path:get_tmpdata_dir() .. "netfs_host_test\\"
T.run("folders", function()
  dirs:delete_dir_tree(work)
  T.equal(dirs:make_dir_tree(work .. "a\\b"), true, "make_dir_tree")
  T.equal(dirs:is_empty_directory(work .. "a\\b"), true, "new folder is empty")
  T.equal(dirs:is_empty_directory(work .. "a"), false, "folder with a folder")
end)

local body = string.rep("0123456789abcdef\0", 4000)
T.run("download", function()
  local out = assert(io.open(servers.www .. "/netfs_host.bin", "wb"))
  out:write(body)
  out:close()
  local url = "http://127.0.0.1:" .. servers.nginx_port .. "/netfs_host.bin"
  local target = work .. "a\\b\\got.bin"
  local f = file_factory:create_instance()
  f:attach_event("on_asyn_http_file_error", function(id, u, code)
    T.check(false, "download failed with " .. tostring(code))
    T.finish()
  end)
  f:attach_event("on_asyn_http_file_ready", function(id, u, p, code)
    T.run("ready", function()
      T.equal(id, 7, "id")
      T.equal(code, 0, "code")
      T.equal(p, target, "path")
      T.equal(files:get_filesize(target), #body, "size")
      -- Lua's own io takes "/" on every system; the objects take either separator.
      local got = assert(io.open((target:gsub("\\", "/")), "rb"))
      T.check(got:read("*a") == body, "the file holds the body")
      got:close()
      -- Then the same through the plain client, body in the response table.
      local h = http_factory:create_instance()
      h:attach_event("on_asyn_http_response", function(_, r)
        T.equal(r["Status-Line"]["Status-Code"], 200, "status")
        T.check(r.Body == body, "binary body intact")
        T.equal(dirs:delete_dir_tree(work), true, "clean up")
        T.finish()
      end)
      T.equal(h:request(8, url, {["X-Flag"] = true}), nil, "malformed headers")
      T.equal(h:request(8, url), true, "request")
    end)
    if T.failures() > 0 then T.finish() end
  end)
  T.equal(f:request_file(7, url, {}, target), true, "request_file")
end)

if T.failures() > 0 then T.finish() end
