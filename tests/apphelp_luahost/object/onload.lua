-- "AppHelp.Object" as the user interface uses it.
local T = require("hosttest")
local app = _G["AppHelp.Object"]
local SEP = package.config:sub(1, 1)
local function native(p) return SEP == "/" and (p:gsub("\\", "/")) or p end

T.run("the object and its argument check", function()
  T.check(app ~= nil, "AppHelp.Object exists")
  T.check(not pcall(app.GetExeDir, {}), "a call on anything else than the object raises")
  T.check(not pcall(app.GetExeDir, _G["Win32Shell.Object"]), "another class's object raises")
end)

T.run("directories", function()
  local exe, profile, temp = app:GetExeDir(), app:GetProfileDir(), app:GetTempDir()
  T.equal(exe:sub(-1), "\\", "program directory ends with a backslash")
  T.equal(profile, exe .. "Profiles\\", "profile directory")
  -- "Tivorel\" below the system's temporary folder on Windows, "Tivorel-<uid>\" on Linux.
  T.check(temp:match("\\Tivorel[-%d]*\\$") ~= nil, "temporary directory: " .. temp)
  T.equal(temp, _G["qv.filesystem.path_utility"]:get_tmpdata_dir(), "the one temporary folder")
end)

T.run("start command", function()
  local cmd = app:GetStartCommand()
  T.equal(cmd.type, 3, "type as a number")
  T.equal(cmd.silent, "", "switch without value")
  T.equal(cmd.k, "v", "first occurrence wins")
  local names = {}
  for name in pairs(cmd) do names[#names + 1] = name end
  table.sort(names)
  T.equal(table.concat(names, " "), "k silent type", "only the given switches: the program's path names none")
  T.equal(app:GetStartCommand().type, 3, "cached")
end)

T.run("exit sequence", function()
  local log = {}
  local c1 = app:AttachExistEvent(function() log[#log + 1] = "exit1" end)
  local c2 = app:AttachExistEvent(function() log[#log + 1] = "exit2" end)
  T.equal(c2, c1 + 1, "cookies count up")
  local veto = true
  local p1 = app:AttachPreExistEvent(function(reason)
    log[#log + 1] = "pre:" .. reason
    if veto then return false, "busy" end
    return true, ""
  end)
  T.equal(app:AttachPreExistEvent("not a function"), nil, "a non-function is not attached")
  app:ExistApp("close")
  T.equal(table.concat(log, ","), "pre:close", "a false answer keeps the exit listeners from running")
  log = {}
  veto = false
  app:ExistApp("again")
  T.equal(table.concat(log, ","), "pre:again,exit1,exit2", "exit listeners run in order")
  log = {}
  app:DetachExistEvent(c1)
  app:DetachPreExistEvent(p1)
  app:ExistApp("third")
  T.equal(table.concat(log, ","), "exit2", "detached listeners are gone")
  app:DetachExistEvent(c2)
  T.check(type(app:AttachCommandEvent(function() end)) == "number", "command listener cookie")
end)

T.run("text utilities", function()
  T.equal(app:URLDecode("a%20b%E4%B8%AD+"), "a b中+", "URLDecode")
  T.equal(app:GetBytesNum("中国ab"), 6, "GetBytesNum")
  T.equal(app:ConvertChinese("中国ab"), "ZGab", "ConvertChinese")
  T.equal(app:HasCharact("x"), nil, "HasCharact")
  T.equal(app:PrintLog("x"), nil, "PrintLog")
end)

T.run("files", function()
  local path = app:GetTempDir() .. "apphelp_empty.txt"
  local f = io.open(native(path), "wb")
  f:write("something")
  f:close()
  app:CreateEmptyFile(path)
  f = io.open(native(path), "rb")
  T.equal(f:read("*a"), "", "CreateEmptyFile truncates")
  f:close()
  os.remove(native(path))
  T.equal(app:UnZipOneFile(app:GetTempDir() .. "missing.zip", "a", app:GetTempDir() .. "a"), false,
    "UnZipOneFile of a missing archive")
end)

T.run("contact backups", function()
  T.equal(app:GetContactBackupList(), nil, "no index yet")
  T.equal(app:BackupContact("phone", {{name = "张三", number = "138"}, {name = "Ann, \"A\"", number = "139"}}),
    true, "the backup is saved")
  local list = app:GetContactBackupList()
  T.check(list and #list == 1, "one backup listed")
  T.equal(list[1].title, "phone", "title")
  local back = app:RestoreContact("phone " .. list[1].rdate)
  T.check(back and #back == 2, "two contacts restored")
  T.equal(back[1].name, "张三", "name")
  T.equal(back[2].name, "Ann, \"A\"", "name with a comma and quotes")
  T.equal(back[2].number, "139", "number")
  T.equal(app:RestoreContact(list[1].rdate), nil, "one piece gives nothing")
  -- An index that cannot be read still names the earlier backups: it is kept and the backup fails.
  local index = native(app:GetProfileDir() .. "contactRecord.xml")
  local f = io.open(index, "rb")
  local damaged = f:read("*a"):sub(1, -10)
  f:close()
  f = io.open(index, "wb")
  f:write(damaged)
  f:close()
  T.equal(app:BackupContact("tablet", {{name = "B", number = "1"}}), false, "a backup beside a damaged index fails")
  f = io.open(index, "rb")
  T.equal(f:read("*a"), damaged, "the damaged index is left as it is")
  f:close()
end)

T.run("CSV", function()
  local path = app:GetTempDir() .. "apphelp_contacts.csv"
  app:BackupContactToCVS(path, {"First Name", "Mobile Phone"},
    {{"张三", "138"}, {"Smith, John", "1\"2"}, {"Line\nbreak", 140}})
  local back = app:RestoreContactFromCVS(path)
  T.check(back and #back == 3, "three contacts read back")
  T.equal(back[1].name, "张三", "code page 936 round trip")
  T.equal(back[2].name, "Smith, John", "comma")
  T.equal(back[2].number, "1\"2", "quote")
  T.equal(back[3].name, "Line\nbreak", "line break")
  T.equal(back[3].number, "140", "a number becomes text")
  os.remove(native(path))
  T.equal(app:RestoreContactFromCVS(path), nil, "missing file gives nothing")
end)

T.run("JSON", function()
  local json = app:LuaTableToJson({name = "x", n = 3, r = 1.5, ok = true, list = {{a = 1}, {b = "c"}}})
  T.check(json:find('"name" : "x"', 1, true), "string member: " .. json)
  T.check(json:find('"n" : 3', 1, true), "integer member")
  T.check(json:find('"r" : 1.5', 1, true), "real member")
  T.check(json:find('"ok" : true', 1, true), "boolean member")
  T.check(json:find('"a" : 1', 1, true), "array of objects")
  local loop = {}
  loop.self = {loop}
  T.check(type(app:LuaTableToJson(loop)) == "string", "a table that holds itself ends")
  local p = app:ParseDownParam('{"src":"u","title":"t","gid":"g","size":12,"type":1,"picurl":"p","ver":"2"}')
  T.equal(p.src, "u", "src")
  T.equal(p.size, 12, "size")
  T.equal(p.type, 1, "type")
  T.equal(p.picurl, "p", "picurl with type 1")
  T.equal(p.ver, "2", "ver with type 1")
  p = app:ParseDownParam('{"src":"u","type":2,"picurl":"p"}')
  T.equal(p.picurl, nil, "no picurl unless type 1")
  T.equal(p.type, 2, "type 2")
  p = app:ParseDownParam("not json")
  T.equal(next(p), nil, "text that does not parse gives an empty table")
  p = app:ParseDownParam('[1,2]')
  T.equal(next(p), nil, "not an object gives an empty table")
  local deep = string.rep('{"a":', 5000) .. "1" .. string.rep("}", 5000)
  local ok, q = pcall(app.ParseDownParam, app, deep)
  T.check(ok, "deeply nested JSON does not raise: " .. tostring(q))
  T.equal(ok and next(q), nil, "deeply nested JSON gives an empty table")
end)

T.run("package destinations", function()
  local a, b = app:GetInstallDir("unknown", app:GetTempDir())
  T.equal(a, "", "unknown kind: local")
  T.equal(b, "", "unknown kind: device")
  app:ReloadInstallDat()
end)

T.run("update and icon calls on bad input end quietly", function()
  app:UpdateAPP(app:GetTempDir() .. "no-such-update.zip")
  app:SetAppIcon(nil, 1)
end)

T.finish()
