-- First run: start one large download and keep running until the test kills the host.
local T = require("hosttest")
local job = dofile(T.dir .. "job.lua")
local dm = _G["DownloadManger.Manager"]
dm:Init(function(tasks) T.record("stored tasks at start: " .. #tasks) end)
local id = dm:DownLoadFile(job.url, job.target, 1, "big", "logo", function(id, pos, size, state)
  if state ~= 1 then T.record("FAIL the download ended before the kill, state " .. state) end
end)
T.record("queued " .. id)
