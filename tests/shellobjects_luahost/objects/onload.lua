-- The shell objects as the user interface uses them.
local T = require("hosttest")
local windows = package.config:sub(1, 1) == "\\"
local tray = _G["Tray.Manager"]
local dnd = _G["Qorvan.UIEngine.DragDropShell"]
local clip = _G["ClipBoardData.Manager"]
local icons = _G["IconManager.Manager"]

-- The number of keys of a table.
local function keys(t)
  local n = 0
  for _ in pairs(t) do n = n + 1 end
  return n
end

T.run("the objects and their argument checks", function()
  T.check(tray and dnd and clip and icons, "the four objects exist")
  T.check(not pcall(clip.GetTxtData, tray), "another class's object raises")
  T.check(not pcall(icons.GetIconByPath, icons), "GetIconByPath without a path raises")
  T.check(not pcall(clip.SetHdropData, clip, "C:\\a"), "SetHdropData without a table raises")
  T.check(not pcall(clip.SetTxtData, clip), "SetTxtData without text raises")
  T.check(not pcall(tray.ModifyTrayTips, tray), "ModifyTrayTips without text raises")
end)

T.run("tray", function()
  T.equal(select("#", tray:CreateNotifyTray()), 0, "CreateNotifyTray returns nothing")
  T.equal(select("#", tray:ModifyTrayTips(string.rep("\228\184\173", 130))), 0, "long tip")
  T.equal(select("#", tray:ModifyTrayIcon(128)), 0, "ModifyTrayIcon returns nothing")
  local cookie = tray:AttachEvent(function(w, l)
    -- Nobody clicks the icon while the test runs: a call means a message the shell never sent.
    T.check(false, "tray listener called with " .. tostring(w) .. ", " .. tostring(l))
  end)
  T.equal(type(cookie), "number", "AttachEvent gives a cookie")
  T.equal(select("#", tray:AttachEvent(42)), 0, "a non-function gives nothing")
  T.equal(select("#", tray:DeleteNotifyTray()), 0, "DeleteNotifyTray returns nothing")
  -- The listener stays attached until the host quits, so a stray message still counts.
end)

T.run("drag and drop", function()
  local window = io.stdout  -- stands for a window handle; only its address is used
  local called = function(t) T.check(false, "drop listener called with " .. tostring(t.type)) end
  T.equal(select("#", dnd:RegisterDragDrop(window, called)), 0, "RegisterDragDrop returns nothing")
  T.equal(select("#", dnd:RegisterDragDrop(window, called)), 0, "a second registration")
  T.equal(select("#", dnd:RegisterDragDrop("not a window", called)), 0, "no window")
  T.equal(select("#", dnd:RegisterDragDrop(window)), 0, "no listener")
  T.equal(select("#", dnd:RevokeDragDrop(window)), 0, "RevokeDragDrop returns nothing")
  if not windows then dnd:RegisterDragDrop(window, called) end
end)

T.run("clipboard", function()
  local text = "h\195\169llo \228\184\173\230\150\135"
  clip:SetTxtData(text)
  local files = {"C:\\T\195\169st\\a.txt", "C:\\dir\\b"}
  if windows then
    T.equal(clip:GetTxtData(), text, "text round trip")
    clip:SetHdropData(files)
    local got = clip:GetHdropData()
    T.equal(#got, 2, "two files")
    T.equal(got[1], files[1], "first file")
    T.equal(got[2], files[2], "second file")
    T.equal(got.type, 5, "copied files")
    clip:SetHdropData({"C:\\" .. string.rep("a", 520)})
    T.equal(clip:GetHdropData()[1], files[1], "a name longer than the reader takes is refused")
    clip:SetHdropData({})
    T.equal(#clip:GetHdropData(), 2, "an empty list does nothing")
  else
    T.equal(clip:GetTxtData(), "", "no clipboard: empty text")
    clip:SetHdropData(files)
    local got = clip:GetHdropData()
    T.equal(keys(got), 1, "no clipboard: only the type")
    T.equal(got.type, 5, "no clipboard: type 5")
  end
end)

T.run("file icons", function()
  local paths = {"C:\\Docs\\a.txt", "C:\\Windows\\notepad.exe", "C:\\Docs\\README"}
  for _, p in ipairs(paths) do
    for _, large in ipairs({true, false}) do
      local n = select("#", icons:GetIconByPath(p, large))
      T.equal(n, 1, "one result for " .. p)
      local bitmap = icons:GetIconByPath(p, large)
      if windows then
        if p:sub(-4) == ".txt" then
          T.check(bitmap ~= nil, "a bitmap for " .. p)
          local w, h = bitmap:GetSize()
          T.check(w > 0 and h > 0, "its size")
        end
      else
        T.equal(bitmap, nil, "no shell icons: nil for " .. p)
      end
    end
  end
end)

T.finish()
