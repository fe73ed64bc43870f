-- When the ADB server cannot start, the usual cause is another tool's ADB server (often of
-- another version) on the server's port. This names the program that listens on
-- 127.0.0.1:5037, read by the process runner from "ss -Hltnp" (Linux) or "netstat -ano"
-- (Windows).
local M = {}

local SEP = package.config:sub(1, 1)

-- Whether the client's text says that it could not reach or start a server.
function M.server_failed(text)
  text = text or ""
  return text:find("daemon not running", 1, true) ~= nil
    or text:find("failed to start daemon", 1, true) ~= nil
    or text:find("cannot connect to daemon", 1, true) ~= nil
    or text:find("could not install *smartsocket* listener", 1, true) ~= nil
end

local function program_name(pid)
  if SEP ~= "/" then return nil end
  local f = io.open("/proc/" .. pid .. "/comm", "r")
  if not f then return nil end
  local name = f:read("*l")
  f:close()
  return name
end

-- Says who holds the port, then calls done().
function M.explain(say, done)
  local runner = _G["AsyncProcess.Manager"]
  if not runner then done() return end
  runner:Init()
  local command = SEP == "/" and "ss -Hltnp" or "netstat -ano"
  runner:AddCommand(command, 2, 10000, function(_, pid)
    if pid then
      local name = program_name(pid)
      say(string.format("  127.0.0.1:5037 is held by process %d%s: end it, or stop its ADB server "
        .. "(\"adb kill-server\" of that tool), then try again", pid,
        name and (" (" .. name .. ")") or ""))
    else
      say("  no program was found listening on 127.0.0.1:5037")
    end
    done()
  end)
end

return M
