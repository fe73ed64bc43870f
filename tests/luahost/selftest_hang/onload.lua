-- Must fail: the package never posts the quit message.
local T = require("hosttest")
T.check(true, "nothing")
