-- Global objects are made on first use; pushed objects are freed by their __gc.
local T = require("hosttest")

T.run("factories are lazy", function()
  -- Probe.Object is read first, so the registration alone made nothing.
  local probe = _G["Probe.Object"]
  local probe_calls, lazy_calls = probe:Stats()
  T.equal(probe_calls, 1, "Probe.Object factory calls after the first read")
  T.equal(lazy_calls, 0, "Probe.Lazy factory calls before any read")
  T.equal(_G["Probe.Lazy"]:Ping(), "pong", "Probe.Lazy works")
  T.check(rawequal(_G["Probe.Lazy"], _G["Probe.Lazy"]), "the same object on every read")
  probe_calls, lazy_calls = probe:Stats()
  T.equal(probe_calls, 1, "Probe.Object factory calls later")
  T.equal(lazy_calls, 1, "Probe.Lazy factory calls after reads")
end)

T.run("__gc frees the native object", function()
  local probe = _G["Probe.Object"]
  local kept = probe:MakeItem(42)
  do
    for i = 1, 5 do probe:MakeItem(i) end
  end
  collectgarbage("collect")
  collectgarbage("collect")
  local _, _, made, freed = probe:Stats()
  T.equal(made, 6, "items made")
  T.equal(freed, 5, "unreferenced items freed")
  T.equal(kept:Value(), 42, "the referenced item is intact")
  kept = nil
  collectgarbage("collect")
  _, _, made, freed = probe:Stats()
  T.equal(freed, 6, "freed once unreferenced")
end)

T.finish()
