-- "Win32Shell.Object" as the user interface uses it, on both systems. Where Linux has no
-- equivalent, the failure results are asserted, so that a made-up success cannot slip in.
local T = require("hosttest")
local o = _G["Win32Shell.Object"]
local app = _G["AppHelp.Object"]
local WINDOWS = package.config:sub(1, 1) == "\\"
local E_FAIL = -2147467259

local exe_dir = app:GetExeDir()
local temp = app:GetTempDir()
local fake = exe_dir .. (WINDOWS and "fake_adb.exe" or "fake_adb")
local function same_path(a, b)
  a, b = a:gsub("/", "\\"), b:gsub("/", "\\")
  if WINDOWS then a, b = a:lower(), b:lower() end
  return a == b
end
local function count(...) return select("#", ...) end

T.run("every method is there", function()
  local names = {"FileDialog", "PostQuitMessage", "GetTickCount", "GetTmpDir", "Rename", "OpenDir",
    "DeletePathFile", "ReadINIInteger", "Sleep", "DeleteRegKey", "CreateRegKey", "SetRegValue",
    "QueryRegValue", "RefreshIcon", "RebootMachine", "GetCursorPos", "GetWorkArea", "ShellExecute",
    "IsKeyDown", "FolderDialog", "ShellOpen", "EnumFile", "UnZip", "SplitString", "GetDirSize",
    "AsyncUnzip", "ShowCursor", "MessageBox", "GetProcessList", "TerminateProcess", "CopyFile",
    "GetAsyncKeyState", "GetKeyState", "WriteINI", "GetScreenSize", "IsNowFullScreen",
    "AsynCreateProcess", "ReadINI", "InVokeJsFun", "DeleteRegValue", "IsWow64", "GetExtFiles",
    "GetDiskFreeSpace", "URLEncode", "GetUnCompressSize", "GetDataMD5", "AsyncDeleteDir",
    "GetLocalVer"}
  for _, name in ipairs(names) do T.equal(type(o[name]), "function", name) end
  T.check(not pcall(o.CopyFile, o, "only one"), "a missing string raises")
end)

T.run("version", function()
  local ini = app:GetProfileDir() .. "config.ini"
  T.equal(o:GetLocalVer(), o:ReadINI(ini, "basic", "appver") or "1.0", "GetLocalVer")
end)

T.run("files and folders, either separator", function()
  local seed = temp .. "seed_for_shell.ini"
  o:WriteINI("s", "k", "12345", seed)
  T.equal(o:CopyFile(seed, temp .. "shell_copy.ini"), true, "CopyFile")
  local f = io.open(temp .. "shell_copy.ini", "rb")
  T.check(f ~= nil, "the copy is there")
  if f then f:close() end
  T.equal(o:ReadINIInteger(temp .. "shell_copy.ini", "s", "k", 0), 12345, "the copy's content")
  local moved = (temp .. "shell_moved.ini"):gsub("\\", "/")
  o:Rename(temp .. "shell_copy.ini", moved)
  T.equal(o:ReadINIInteger(moved, "s", "k", 0), 12345, "Rename")
  local names = o:GetExtFiles(temp:sub(1, -2), "shell_*.ini")
  T.equal(names and #names, 1, "GetExtFiles")
  T.equal(names and names[1], "shell_moved.ini", "GetExtFiles name")
  T.equal(o:DeletePathFile(moved), true, "DeletePathFile")
  T.equal(count(o:DeletePathFile(moved)), 0, "a second delete gives nothing")
  T.equal(count(o:GetExtFiles(temp:sub(1, -2), "shell_*.ini")), 0, "nothing left to list")
  o:DeletePathFile(seed)
end)

T.run("archives", function()
  local zip = exe_dir .. "xar\\fixture.zip"
  T.equal(o:GetUnCompressSize(zip), 7, "GetUnCompressSize")
  T.equal(o:GetUnCompressSize(exe_dir .. "xar\\onload.lua"), 0, "not an archive")
  T.equal(o:UnZip(zip, temp .. "shell_unzip_sync"), true, "UnZip")
  T.equal(o:GetDirSize(temp .. "shell_unzip_sync"), 7, "GetDirSize")
  local entries = o:EnumFile(3, temp .. "shell_unzip_sync")
  T.equal(#entries, 3, "EnumFile")
end)

if WINDOWS then
  T.run("registry", function()
    local key = "Software\\TivorelShellTest"
    o:DeleteRegKey("HKEY_CURRENT_USER", key)
    T.equal(o:SetRegValue("HKEY_CURRENT_USER", key, "n", 1), false, "the key must exist first")
    T.equal(o:CreateRegKey("HKEY_CURRENT_USER", key), true, "CreateRegKey")
    T.equal(o:SetRegValue("hkey_current_user", key, "n", 42), true, "a DWORD")
    T.equal(o:SetRegValue("HKEY_CURRENT_USER", key, "s", "h\195\169llo"), true, "a string")
    T.equal(o:SetRegValue("HKEY_CURRENT_USER", key, "t", {}), false, "a table")
    T.equal(o:QueryRegValue("HKEY_CURRENT_USER", key, "n"), 42, "DWORD back")
    T.equal(o:QueryRegValue("HKEY_CURRENT_USER", key, "s"), "h\195\169llo", "string back")
    T.equal(o:QueryRegValue("HKEY_CURRENT_USER", key, "missing"), "", "missing value")
    T.equal(o:QueryRegValue("HKEY_CURRENT_CONFIG", "Software", "x"), "", "refused root")
    T.equal(o:DeleteRegValue("HKEY_CURRENT_USER", key, "n"), true, "DeleteRegValue")
    T.equal(o:QueryRegValue("HKEY_CURRENT_USER", key, "n"), "", "value gone")
    T.equal(o:DeleteRegValue("HKEY_CURRENT_USER", key .. "\\none", "n"), true, "no key: nothing to delete")
    T.equal(o:DeleteRegKey("HKEY_CURRENT_USER", key), true, "DeleteRegKey")
    T.equal(o:QueryRegValue("HKEY_CURRENT_USER", key, "s"), "", "key gone")
  end)
  T.run("screen", function()
    T.equal(count(o:GetScreenSize()), 2, "GetScreenSize")
    T.equal(count(o:GetWorkArea()), 4, "GetWorkArea")
    T.equal(type(o:IsWow64()), "boolean", "IsWow64")
  end)
else
  T.run("what Linux does not have", function()
    T.equal(#o:FileDialog(true, "All|*.*"), 0, "FileDialog")
    T.equal(#o:FileDialog(false, "All|*.*", "txt", "name", true), 0, "FileDialog, multiple")
    T.equal(o:FolderDialog("title", temp), "", "FolderDialog")
    T.equal(o:CreateRegKey("HKEY_CURRENT_USER", "Software\\Tivorel"), false, "CreateRegKey")
    T.equal(o:SetRegValue("HKEY_CURRENT_USER", "Software", "v", 1), false, "SetRegValue")
    T.equal(o:QueryRegValue("HKEY_CURRENT_USER", "Software", "v"), "", "QueryRegValue")
    T.equal(o:DeleteRegValue("HKEY_CURRENT_USER", "Software", "v"), false, "DeleteRegValue")
    T.equal(o:DeleteRegKey("HKEY_CURRENT_USER", "Software\\Tivorel"), false, "DeleteRegKey")
    T.equal(count(o:GetCursorPos()), 0, "GetCursorPos")
    T.equal(count(o:GetWorkArea(1, 1)), 0, "GetWorkArea")
    T.equal(count(o:GetScreenSize()), 0, "GetScreenSize")
    T.equal(count(o:IsNowFullScreen()), 0, "IsNowFullScreen")
    T.equal(o:IsKeyDown(16), false, "IsKeyDown")
    T.equal(o:GetAsyncKeyState(16), false, "GetAsyncKeyState")
    T.equal(o:GetKeyState(16), 0, "GetKeyState")
    T.equal(count(o:ShowCursor(true)), 0, "ShowCursor")
    T.equal(count(o:RefreshIcon()), 0, "RefreshIcon")
    T.equal(count(o:RebootMachine()), 0, "RebootMachine")
    T.equal(o:IsWow64(), false, "IsWow64")
    T.equal(o:MessageBox(0, "Shell test caption", "Shell test question?"), 7, "MessageBox answers No")
    local log = io.open(temp .. "engine.log", "rb")
    local text = log and log:read("*a") or ""
    if log then log:close() end
    T.check(text:find("Shell test caption: Shell test question?", 1, true) ~= nil,
      "MessageBox writes caption and text to the log")
    T.check(text:find("RebootMachine", 1, true) ~= nil, "RebootMachine writes to the log")
  end)
end

-- A child started by ShellExecute is found in the process list with its path and then ended.
local function find_fake()
  for _, p in ipairs(o:GetProcessList()) do
    if same_path(p.path, fake) then return p end
  end
end

T.run("processes", function()
  T.equal(find_fake(), nil, "no fake client runs before")
  T.equal(o:ShellExecute(0, "open", fake, "forever", "", "SW_HIDE"), 0, "ShellExecute")
  local found
  for _ = 1, 400 do
    found = find_fake()
    if found then break end
    o:Sleep(25)
  end
  T.check(found ~= nil, "the child is in the process list with its path")
  if not found then return end
  T.equal(type(found.id), "number", "its id")
  o:TerminateProcess(found.id, 1)
  local gone = false
  for _ = 1, 400 do
    if not find_fake() then gone = true break end
    o:Sleep(25)
  end
  T.check(gone, "TerminateProcess ended it")
end)

-- The three jobs: each calls its function with its id and its result, in queue order.
local done, ids = {}, {}
local expected = 6
local function finish_jobs()
  T.run("jobs", function()
    T.equal(table.concat(done, " "),
      "unzip:0 bad:" .. E_FAIL .. " ok:0 code3:" .. E_FAIL .. " limit:" .. E_FAIL .. " delete:0",
      "completions in queue order with their results")
    T.equal(ids.bad, ids.unzip + 1, "ids count up")
    T.equal(ids.delete, ids.unzip + 5, "the last id")
    T.equal(o:GetDirSize(temp .. "shell_unzip"), 0, "AsyncDeleteDir deleted the folder")
  end)
  T.finish()
end
local function record(name)
  return function(id, result)
    T.equal(id, ids[name], name .. " id")
    done[#done + 1] = name .. ":" .. result
    if name == "unzip" then
      T.equal(o:GetDirSize(temp .. "shell_unzip"), 7, "AsyncUnzip extracted the archive")
    end
    if #done == expected then finish_jobs() end
  end
end

T.run("queue the jobs", function()
  local zip = exe_dir .. "xar\\fixture.zip"
  ids.unzip = o:AsyncUnzip(zip, temp .. "shell_unzip", record("unzip"))
  ids.bad = o:AsyncUnzip(exe_dir .. "xar\\onload.lua", temp .. "shell_bad", record("bad"))
  ids.ok = o:AsynCreateProcess("fake_adb.exe exit 0", record("ok"))
  ids.code3 = o:AsynCreateProcess("fake_adb.exe exit 3", -1, record("code3"))
  ids.limit = o:AsynCreateProcess("fake_adb.exe forever", 300, record("limit"))
  ids.delete = o:AsyncDeleteDir(temp .. "shell_unzip", record("delete"))
end)
