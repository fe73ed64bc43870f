-- Second run: the stored task comes back through Init and is queued again; it must finish.
local T = require("hosttest")
local job = dofile(T.dir .. "job.lua")
local dm = _G["DownloadManger.Manager"]
dm:Init(function(tasks)
  T.equal(#tasks, 1, "one stored task")
  local t = tasks[1]
  if not t then T.finish() return end
  T.equal(t.url, job.url, "its URL")
  T.equal(t.filePath, job.target, "its path")
  T.equal(t.showName, "big", "its name")
  T.equal(t.logo, "logo", "its logo")
  T.check(t.filePos > 0, "a stored position")
  T.record(string.format("resume from %.0f of %.0f", t.filePos, t.fileSize))
  dm:AddDatebaseTask(t.taskId, t.url, t.filePos, t.fileSize, t.filePath, t.taskType, t.showName,
    function(id, pos, size, state)
      if state == 5 then
        T.equal(id, t.taskId, "the same task")
        T.equal(pos, job.size, "the full size")
        T.finish()
      elseif state == 4 then
        T.check(false, "the resumed download failed")
        T.finish()
      end
    end)
end)
