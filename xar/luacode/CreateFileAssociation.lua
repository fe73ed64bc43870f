-- File types the package offers to open.
function RegisterObject()
  FileAssociation = { ".apk", ".xpk", ".gpk", ".hpk", ".lpk" }
end
