-- Must fail: the package raises before it reports.
local T = require("hosttest")
error("the package raises")
T.finish()
