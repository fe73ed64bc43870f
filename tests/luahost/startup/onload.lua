-- The start-up scripts ran in their order before the package; missing and failing ones were
-- skipped.
local T = require("hosttest")
T.equal(table.concat(StartupOrder or {}, ","), "HostWndHelper,GlobalMacro", "scripts that ran")
T.equal(MenuHelperLoaded, true, "MenuHelper's body ran up to its error")
T.equal(MenuHelperEntry, nil, "MenuHelper's entry did not run")
T.equal(AssociationEntered, true, "CreateFileAssociation's entry was called")
T.check(_G["Win32Shell.Object"] ~= nil, "Win32Shell.Object is registered")
T.finish()
