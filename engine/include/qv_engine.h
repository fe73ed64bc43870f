// The UI engine and Lua runtime the host runs on: a headless engine over Lua 5.1 offering the
// operations of the four engine libraries (loader QVUE_, Lua runtime QVLRT_, graphics QV_ and
// QVGP_). Every call is made on the UI thread.
//
// Strings are UTF-8. Paths may use "\" or "/" separators on every system.
#pragma once

#include <cstdint>

#include <lua.h>

// ---- Lua runtime -------------------------------------------------------------------------

typedef struct qvlrt_env* QVLRT_ENV;  // the environment; also serves as the runtime handle
typedef struct qvlrt_env* QVLRT_RUNTIME;
typedef struct qvlrt_chunk* QVLRT_CHUNK;

// One entry of a class's method table; an entry whose members are all zero ends the table.
struct QVLRT_METHOD {
  const char* name;
  lua_CFunction func;
  std::uintptr_t reserved;  // always 0
};

typedef void* (*QVLRT_FACTORY)(std::uintptr_t user);

// A global object: Lua code reaches it as the global variable `obj_name`; the first read of that
// name calls the factory, later reads give the same object.
struct QVLRT_GLOBAL_OBJ {
  QVLRT_FACTORY factory;
  std::uintptr_t user;
  const char* obj_name;
  const char* class_name;
  const QVLRT_METHOD* methods;
  std::uintptr_t reserved;
};

// The default environment (created on first call, lives until process exit), or null.
QVLRT_ENV QVLRT_GetEnv(int reserved);
QVLRT_RUNTIME QVLRT_GetRuntime(QVLRT_ENV env, int reserved);
lua_State* QVLRT_GetLuaState(QVLRT_RUNTIME runtime);

// Objects of the class are full userdata holding one pointer, with the class's metatable
// (registered under the class name, its own __index), so luaL_checkudata(L, i, class_name)
// works and methods are called as obj:Method(...). A method named "__gc" frees pushed objects.
// Returns 0 on success.
int QVLRT_RegisterClass(QVLRT_ENV env, const char* class_name, const QVLRT_METHOD* methods,
                        int reserved1, int reserved2);
int QVLRT_RegisterGlobalObj(QVLRT_ENV env, QVLRT_GLOBAL_OBJ desc);

// Pushes a userdata of the class holding `object`; Lua owns it from then on. Returns 0.
int QVLRT_PushQVObject(lua_State* L, const char* class_name, void* object);

// Protected call of the function below nargs arguments. Always returns: 0 on success; on error
// the message, prefixed with `context`, goes to standard error and to "engine.log" in the
// program's temporary directory, and nresults nils take the results' place.
int QVLRT_LuaCall(lua_State* L, int nargs, int nresults, const char* context);

// Loads and runs the module file; the chunk is the module's global function named `entry`.
// Gives no chunk (and returns non-zero) when the file is missing, does not compile, fails when
// run or defines no such function.
int QVLRT_CreateChunkFromModule(QVLRT_RUNTIME runtime, const char* chunk_name, const char* path,
                                const char* entry, QVLRT_CHUNK* out);
// Pushes the chunk's function on the runtime's stack; 0 on success.
int QVLRT_PrepareChunk(QVLRT_RUNTIME runtime, QVLRT_CHUNK chunk);
void QVLRT_ReleaseChunk(QVLRT_CHUNK chunk);

// ---- Loader ------------------------------------------------------------------------------

int QVUE_InitLoader(int reserved);
int QVUE_AddXARSearchPath(const char* dir);
// Loads the package: the first folder named `name` (compared without regard to case) under a
// search path, in the order they were added; runs its entry script "onload.lua". 0 on success.
int QVUE_LoadXAR(const char* name);

// ---- Graphics ----------------------------------------------------------------------------

struct QV_GRAPHIC_PARAM {
  std::uint32_t flags;  // the host sets it to 0
  std::uint32_t reserved[7];
};
struct QVGP_GRAPHICPLUS_PARAM {
  std::uint32_t reserved[8];
};

int QV_PrepareGraphicParam(QV_GRAPHIC_PARAM* param);
int QV_InitGraphicLib(QV_GRAPHIC_PARAM* param);
int QV_SetFreeTypeEnabled(int enabled);
int QVGP_PrepareGraphicPlusParam(QVGP_GRAPHICPLUS_PARAM* param);
int QVGP_InitGraphicPlus(QVGP_GRAPHICPLUS_PARAM* param);

typedef struct qv_bitmap* QV_BITMAP;

// Lua class of bitmaps handed to Lua; each pushed bitmap holds one reference.
#define QV_BITMAP_CLASS "Qorvan.QVGraphic.Bitmap"

// A 32-bit BGRA bitmap (format 0 only), rows top-down, all pixels 0, one reference. Null for
// another format or a size that is not positive or too large.
QV_BITMAP QV_CreateBitmap(int format, int width, int height);
// The pixel rows (stride = width * 4); width and height when the out pointers are given.
unsigned char* QV_GetBitmapBuffer(QV_BITMAP bitmap, int* width, int* height);
int QV_AddRefBitmap(QV_BITMAP bitmap);   // the new count
int QV_ReleaseBitmap(QV_BITMAP bitmap);  // the new count; the bitmap is freed at 0
// Pushes a bitmap to Lua as QV_BITMAP_CLASS, adding one reference that its __gc releases.
int QV_PushBitmap(lua_State* L, QV_BITMAP bitmap);

// ---- For tests ---------------------------------------------------------------------------

// The full path of the log file the runtime writes errors to.
const char* QVLRT_GetLogPath();

// The environment's registrations in the order they were made, from 0: "class <class name>" or
// "global <object name> <class name>"; null past the last.
const char* QVLRT_GetRegistration(QVLRT_ENV env, int index);
