// A Lua number's text, by the rule each caller names.
#pragma once

#include "qv_engine.h"

#include <string>

namespace luabind {

enum class number_style {
  as_lua,   // "%.14g", as Lua's tostring writes it (1e15 is "1e+15")
  decimal,  // whole numbers in all their decimal digits (1e15 is "1000000000000000"), else "%.14g"
};
std::string number_text(lua_Number n, number_style style);

}  // namespace luabind
