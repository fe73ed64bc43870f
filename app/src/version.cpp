#include "app/version.h"

#include "tivorel_version.h"

namespace app {

bool IsVersionRequest(const std::vector<std::wstring>& args) {
  return !args.empty() && args.front() == L"--version";
}

std::string VersionLine() { return TIVOREL_PRODUCT_NAME " " TIVOREL_VERSION "\n"; }

}  // namespace app
