// The host's entry point on POSIX systems.
#include "app/startup.h"
#include "app/version.h"

#include "qv/text.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(qv::text::utf8_to_wide(argv[i]));
  if (app::IsVersionRequest(args)) {
    const std::string line = app::VersionLine();
    const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
    return written && std::fflush(stdout) == 0 ? 0 : 1;
  }
  app::HostMain();
  return 0;
}
