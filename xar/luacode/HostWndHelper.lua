-- Helpers for the package's host windows.
function RegisterObject()
  HostWndHelper = HostWndHelper or {}
  HostWndHelper.windows = {}
  function HostWndHelper.Add(name, wnd) HostWndHelper.windows[name] = wnd end
  function HostWndHelper.Get(name) return HostWndHelper.windows[name] end
end
