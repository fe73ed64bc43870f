-- What lua5.1 runs for the reference: the same five start-up scripts, each loaded and its
-- RegisterObject called, then the entry script.
local dir = arg[1]
for _, name in ipairs({ "HostWndHelper", "KeyHelper", "MenuHelper", "CreateFileAssociation",
                        "GlobalMacro" }) do
  RegisterObject = nil
  dofile(dir .. "/luacode/" .. name .. ".lua")
  if type(RegisterObject) == "function" then RegisterObject() end
end
dofile(dir .. "/onload.lua")
