-- Entry script of the start-up benchmark: quits at once.
local shell = _G["Win32Shell.Object"]
if shell then shell:PostQuitMessage() end
