// The host with the network and filesystem objects registered after the standard ones, for the
// Lua host test of those objects.
#include "app/startup.h"
#include "store/netfs/lua_net_fs.h"

int main() {
  app::HostHooks hooks;
  hooks.extra_registration = store::RegisterNetAndFilesystemObjects;
  return app::HostMain(hooks);
}
