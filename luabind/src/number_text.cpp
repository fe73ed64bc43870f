#include "luabind/number_text.h"

#include <cmath>
#include <cstdio>

namespace luabind {

std::string number_text(lua_Number n, number_style style) {
  char buf[64];
  if (style == number_style::decimal && std::floor(n) == n && std::fabs(n) < 9.2e18)
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n));
  else
    std::snprintf(buf, sizeof buf, "%.14g", static_cast<double>(n));
  return buf;
}

}  // namespace luabind
