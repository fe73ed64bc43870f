// Start-up and shutdown of the host: the single serving instance, the process-wide services,
// the engine, the start-up scripts, the UI package and the message loop.
#pragma once

#include "hostbase/shared_blocks.h"
#include "qv/share_memory.h"
#include "qv_engine.h"

#include <functional>
#include <string>

namespace app {

using hostbase::kAdbBlockName;
using hostbase::kInstanceBlockName;
constexpr const wchar_t* kMessageWindowName = L"TivorelMessageWnd";

// The engine operations start-up uses; Real() gives the engine's own.
struct EngineCalls {
  int (*prepare_graphic_param)(QV_GRAPHIC_PARAM*);
  int (*init_graphic_lib)(QV_GRAPHIC_PARAM*);
  int (*set_freetype_enabled)(int);
  int (*init_loader)(int);
  int (*prepare_graphic_plus_param)(QVGP_GRAPHICPLUS_PARAM*);
  int (*init_graphic_plus)(QVGP_GRAPHICPLUS_PARAM*);
  QVLRT_ENV (*get_env)(int);
  QVLRT_RUNTIME (*get_runtime)(QVLRT_ENV, int);
  lua_State* (*get_lua_state)(QVLRT_RUNTIME);
  int (*create_chunk_from_module)(QVLRT_RUNTIME, const char*, const char*, const char*,
                                  QVLRT_CHUNK*);
  int (*prepare_chunk)(QVLRT_RUNTIME, QVLRT_CHUNK);
  void (*release_chunk)(QVLRT_CHUNK);
  int (*lua_call)(lua_State*, int, int, const char*);
  int (*add_xar_search_path)(const char*);
  int (*load_xar)(const char*);

  static EngineCalls Real();
};

// What a host program may add to the standard start-up.
struct HostHooks {
  // Registrations after the standard ones (a host built for tests adds its probes here).
  void (*extra_registration)(QVLRT_ENV env) = nullptr;
  // Told each start-up and shutdown step that creates or releases a process-wide object.
  std::function<void(const std::string& step)> trace;
};

// True: this process serves and is ready for the message loop. False: exit now (the command
// line was handed to the serving instance, or the network layer did not start).
bool StartUp(const HostHooks& hooks = {});
void ShutDown();
void InitEngine(const EngineCalls& engine = EngineCalls::Real());
void RunScript(const EngineCalls& engine, QVLRT_RUNTIME runtime, const char* name,
               const std::wstring& path);
// The five start-up scripts under xar_dir + "\luacode\", in their order.
void RunStartupScripts(const EngineCalls& engine, QVLRT_RUNTIME runtime,
                       const std::wstring& xar_dir);
void RunMessageLoop();

// The whole life of the host process after the system's own initialisation; returns 0.
int HostMain(const HostHooks& hooks = {});

// Appends one command line (and the list's closing 0) to the instance block's list of UTF-16
// strings, under the block's lock. False (block unchanged) when it does not fit.
bool AppendCommandLine(qv::win32::multiprocess::share_memory& block, const std::wstring& line);

}  // namespace app
