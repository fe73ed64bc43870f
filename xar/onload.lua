-- Entry script of the default UI package. The host has registered its objects and run the
-- start-up scripts; from here the package is in control. It stays alive (the host's message
-- loop runs) until something posts the quit message through Win32Shell.Object, or until the
-- process is asked to end (Ctrl-C / SIGTERM on Linux).
local shell = _G["Win32Shell.Object"]

local function log(text)
  io.stdout:write(string.format("[%10d] %s\n", shell and shell:GetTickCount() or 0, text))
  io.stdout:flush()
end

log("Tivorel UI package loaded" .. (TivorelMacro and (" (" .. TivorelMacro.ProductName .. ")") or ""))
