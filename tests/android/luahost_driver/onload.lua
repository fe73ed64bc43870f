-- "Driver.Manager" in the real host: the driver package for this system, listener arguments,
-- what cannot run, cancellation.
local T = require("hosttest")
local D = _G["Driver.Manager"]

local got = {}
local function finish_when()
  if not (got.missing and got.unknown) then return end
  T.run("results", function()
    T.equal(got.missing.n, 3, "listener arguments")
    T.equal(got.missing[1], got.missing_id, "task id")
    T.equal(got.missing[2], "tag \xE4\xB8\xAD", "tag as given")
    T.equal(got.missing[3], 0, "a missing package reports 0")
    T.equal(got.unknown[3], 0, "an unknown type reports 0")
    T.equal(got.cancelled, nil, "a cancelled task never calls")
    T.equal(got.all, nil, "CancleAllTask drops every pending task")
  end)
  T.finish()
end

T.run("driver", function()
  T.equal(D:Init(), true, "Init")
  local package, target, kind = D:GetDriverURL("", "")
  -- The system's own architecture decides, not the host's: 64-bit Windows (Windows names it in
  -- PROCESSOR_ARCHITEW6432 to a 32-bit program) takes the 64-bit installer; 32-bit Windows and
  -- Linux take the 32-bit one.
  local arch = os.getenv("PROCESSOR_ARCHITEW6432") or os.getenv("PROCESSOR_ARCHITECTURE") or ""
  T.equal(package, arch:upper() == "AMD64" and "driver_002.zip" or "driver_001.zip", "package")
  T.equal(target, "android_winusb.inf", "target")
  T.equal(kind, 2, "install type")

  local dir = T.dir
  D:AddInstallDriver("all", dir .. "missing_all.zip", "a.inf", 9, {}, function(...)
    got.all = { ... }
  end)
  D:CancleAllTask()
  local cancelled = D:AddInstallDriver("c", dir .. "missing_c.zip", "a.inf", 9, {}, function(...)
    got.cancelled = { ... }
  end)
  D:CancleTask(cancelled)
  got.missing_id = D:AddInstallDriver("tag \xE4\xB8\xAD", dir .. "missing.zip", "setup.exe", 1,
    { "/SW" }, function(...) got.missing = { n = select("#", ...), ... }; finish_when() end)
  got.unknown_id = D:AddInstallDriver("u", dir .. "missing2.zip", "x.inf", 7, {}, function(...)
    got.unknown = { ... }
    finish_when()
  end)
  local ok = pcall(D.AddInstallDriver, D, "t", dir .. "p.zip", "x.inf", "two")
  T.check(not ok, "an install type that is no number is an argument error")
end)
