-- Constants shared by the package's scripts.
function RegisterObject()
  TivorelMacro = { ProductName = "Tivorel", MsgUser = 0x400 }
end
