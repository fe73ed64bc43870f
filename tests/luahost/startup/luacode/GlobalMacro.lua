function RegisterObject()
  StartupOrder = StartupOrder or {}
  StartupOrder[#StartupOrder + 1] = "GlobalMacro"
end
