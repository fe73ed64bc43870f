function RegisterObject()
  StartupOrder = StartupOrder or {}
  StartupOrder[#StartupOrder + 1] = "HostWndHelper"
end
