-- Keyboard helpers: virtual-key codes the package uses.
function RegisterObject()
  KeyHelper = { VK_RETURN = 0x0D, VK_ESCAPE = 0x1B, VK_F5 = 0x74 }
end
