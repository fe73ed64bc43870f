// The host's entry point on POSIX systems.
#include "app/startup.h"

int main() {
  app::HostMain();
  return 0;
}
