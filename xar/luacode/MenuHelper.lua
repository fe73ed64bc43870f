-- Menu helpers: a menu is a list of {id, text} items.
function RegisterObject()
  MenuHelper = {}
  function MenuHelper.New() return { items = {} } end
  function MenuHelper.Add(menu, id, text) menu.items[#menu.items + 1] = { id = id, text = text } end
end
