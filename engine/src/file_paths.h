// Paths with "\" separators for Lua's own file functions.
#pragma once

struct lua_State;

namespace qv_engine {

// Where "\" is not the system's separator, io.open, io.lines, io.input, io.output, dofile,
// loadfile, os.remove, os.rename and require's file searchers take paths with either separator
// (and name chunks with "/" only). Call once, after the standard libraries are open.
void accept_either_separator(lua_State* L);

}  // namespace qv_engine
