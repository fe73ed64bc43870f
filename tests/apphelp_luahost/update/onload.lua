-- "AppHelp.Object":UpdateAPP as the user interface calls it: only a package signed with a
-- trusted key is installed; anything else leaves the program folder as it was and says why in
-- the user interface's log. The build put the packages beside the host.
local T = require("hosttest")
local app = _G["AppHelp.Object"]
local SEP = package.config:sub(1, 1)
local function native(p) return SEP == "/" and (p:gsub("\\", "/")) or p end

local function read(path)
  local f = io.open(native(path), "rb")
  if not f then return nil end
  local s = f:read("*a")
  f:close()
  return s
end

local function write(path, text)
  local f = assert(io.open(native(path), "wb"))
  f:write(text)
  f:close()
end

local exe = app:GetExeDir()
local probe = exe .. "update_probe\\probe.txt"
-- "c:\TivorelLog" on Windows, "TivorelLog" in the temporary folder elsewhere.
local ui_log = SEP == "/" and app:GetTempDir() .. "TivorelLog" or "c:\\TivorelLog"

-- What UpdateAPP(name) returned, and what it added to the user interface's log.
local function update(name)
  local before = #(read(ui_log) or "")
  local results = select("#", app:UpdateAPP(exe .. name))
  return results, (read(ui_log) or ""):sub(before + 1)
end

T.run("nothing is installed while no key is trusted", function()
  local results, log = update("update_good.zip")
  T.equal(results, 0, "UpdateAPP returns nothing")
  T.equal(read(probe), nil, "not installed")
  T.check(log:find("no update key is trusted", 1, true), "the log says why: " .. log)
end)

-- The test suite's own key (never a release key).
write(exe .. "Profiles\\update_keys.txt",
  "# test key\ne88f2416823e0f9dfedac1cabd28fd98aa6160a3115be114184512d329817180\n")

T.run("packages that are not authentic are refused", function()
  local cases = {
    {"update_unsigned.zip", "not signed"},
    {"update_foreign.zip", "does not verify against any trusted key"},
    {"update_altered.zip", "data\\probe.txt does not match its SHA-256"},
  }
  for _, c in ipairs(cases) do
    local results, log = update(c[1])
    T.equal(results, 0, c[1] .. ": UpdateAPP returns nothing")
    T.equal(read(probe), nil, c[1] .. ": not installed")
    T.check(log:find("refused", 1, true) and log:find(c[2], 1, true), c[1] .. ": the log says why: " .. log)
  end
end)

T.run("a signed package is installed", function()
  local results = update("update_good.zip")
  T.equal(results, 0, "UpdateAPP returns nothing")
  T.equal(read(probe), "signed update\n", "the listed file is in its place")
end)

T.finish()
