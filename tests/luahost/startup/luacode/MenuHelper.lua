MenuHelperLoaded = true
function RegisterObject() MenuHelperEntry = true end
error("MenuHelper fails while loading")
