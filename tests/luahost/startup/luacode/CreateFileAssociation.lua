function RegisterObject()
  AssociationEntered = true
  error("CreateFileAssociation fails in its entry")
end
