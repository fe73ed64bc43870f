-- Tour steps of "AppHelp.Object": the switches a later start of the program forwards to this
-- one (try: tivorel -type:3 -url:"http://example.test/a b.apk" while the tour runs), and a
-- backup of the phone's contacts that is listed and restored again.
local M = {}
local app = _G["AppHelp.Object"]
local say = print
local contacts = {}

local function sorted_switches(t)
  local names = {}
  for k in pairs(t) do names[#names + 1] = k end
  table.sort(names)
  local parts = {}
  for _, k in ipairs(names) do
    parts[#parts + 1] = t[k] == "" and ("-" .. k) or string.format("-%s=%q", k, t[k])
  end
  return table.concat(parts, " ")
end

-- Prints this start's switches and, from now on, those of every later start.
function M.start(say_line)
  say = say_line or print
  if not app then return end
  say("Start switches: " .. sorted_switches(app:GetStartCommand()))
  app:AttachCommandEvent(function(switches)
    say("Another start of Tivorel handed over: " .. sorted_switches(switches))
  end)
end

-- One contact record of the agent's list.
function M.collect_contact(r)
  contacts[#contacts + 1] = {name = r.Name or "", number = r.Number or ""}
end

-- Backs the collected contacts up, lists the backups and restores the newest.
function M.backup_contacts(title)
  if not app or #contacts == 0 then return end
  app:BackupContact(title, contacts)
  local list = app:GetContactBackupList() or {}
  say(string.format("  contact backups: %d", #list))
  for i = math.max(1, #list - 2), #list do
    say(string.format("    %s  %s", list[i].rdate, list[i].title))
  end
  local newest = list[#list]
  if newest then
    local back = app:RestoreContact(newest.title .. " " .. newest.rdate) or {}
    say(string.format("  restored %d contacts from %s", #back, newest.rdate))
  end
  contacts = {}
end

return M
