#include "app/startup.h"

#include "desktop/archive.h"
#include "hostbase/archive_extractor.h"
#include "hostbase/message_window.h"
#include "hostbase/process_queue.h"
#include "hostbase/path_manager.h"
#include "luabind/registration.h"
#include "startup_os.h"

#include "qv/message_loop.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"
#include "android/android_connect_manager.h"
#include "android/device_manager.h"
#include "android/driver_manager.h"
#include "android/lua_device_manager.h"
#include "android/process_work_item.h"
#include "app/lua_registration.h"
#include "desktop/app_help.h"
#include "desktop/icon_imager.h"
#include "desktop/log.h"
#include "desktop/shell_objects.h"
#include "store/lua_catalogue.h"
#include "store/lua_download_manager.h"
#include "store/lua_objects.h"
#include "store/sqlite_manager.h"

#include <cstring>
#include <filesystem>

namespace app {

using qv::design_pattern::singleton_ex;
using hostbase::CMessageWindow;
using hostbase::CPathManager;
using hostbase::MessageHandler;
using qv::win32::multiprocess::share_memory;

namespace {

share_memory& instance_block() {
  static share_memory b;
  return b;
}
share_memory& adb_block() {
  static share_memory b;
  return b;
}
HostHooks& hooks() {
  static HostHooks h;
  return h;
}
void trace(const char* step) {
  if (hooks().trace) hooks().trace(step);
}

std::string utf8(const std::wstring& w) { return qv::text::wide_to_utf8(w); }

// The download manager's posted work goes through the message window like every completion.
class StoreWork : public store::work_poster, public MessageHandler {
 public:
  void post_work(std::intptr_t work_type) override {
    if (CMessageWindow* mw = singleton_ex<CMessageWindow>::instance())
      mw->PostHandlerMessage(this, work_type);
  }
  void OnMessage(qv::loop::lparam_t payload) override { store::deliver_download_work(payload); }
};
StoreWork& store_work() {
  static StoreWork w;  // outlives the message window, which is destroyed before exit
  return w;
}

// "Download.db" in the profile folder, in the system's own path form.
std::u16string database_path(CPathManager& paths) {
  std::u16string p = qv::text::wide_to_utf16(paths.GetProfileDir() + L"Download.db");
  if (std::filesystem::path::preferred_separator == '/') {
    for (char16_t& c : p)
      if (c == u'\\') c = u'/';
  }
  return p;
}

}  // namespace

EngineCalls EngineCalls::Real() {
  return {QV_PrepareGraphicParam, QV_InitGraphicLib,       QV_SetFreeTypeEnabled,
          QVUE_InitLoader,        QVGP_PrepareGraphicPlusParam, QVGP_InitGraphicPlus,
          QVLRT_GetEnv,           QVLRT_GetRuntime,        QVLRT_GetLuaState,
          QVLRT_CreateChunkFromModule, QVLRT_PrepareChunk, QVLRT_ReleaseChunk,
          QVLRT_LuaCall,          QVUE_AddXARSearchPath,   QVUE_LoadXAR};
}

bool AppendCommandLine(share_memory& block, const std::wstring& line) {
  auto* data = static_cast<unsigned char*>(block.data());
  if (!data) return false;
  const std::u16string units16 = qv::text::wide_to_utf16(line);
  block.lock();
  const std::size_t units = block.size() / 2;
  auto unit = [&](std::size_t i) {
    return static_cast<unsigned>(data[2 * i] | (data[2 * i + 1] << 8));
  };
  auto put = [&](std::size_t i, char16_t u) {
    data[2 * i] = static_cast<unsigned char>(u & 0xFF);
    data[2 * i + 1] = static_cast<unsigned char>(u >> 8);
  };
  bool written = false;
  if (units >= 2) {
    // The first double 0 ends the list; a full area counts as ending at its last unit.
    std::size_t i = 0;
    while (i < units - 1 && !(unit(i) == 0 && unit(i + 1) == 0)) ++i;
    const std::size_t len = units16.size();
    if (len + i + 3 <= units) {
      std::size_t pos = i == 0 ? 0 : i + 1;
      for (char16_t u : units16) put(pos++, u);
      put(pos++, 0);
      put(pos, 0);
      written = true;
    }
  }
  block.unlock();
  return written;
}

void RunScript(const EngineCalls& engine, QVLRT_RUNTIME runtime, const char* name,
               const std::wstring& path) {
  lua_State* L = engine.get_lua_state(runtime);
  const std::string p = utf8(path);
  QVLRT_CHUNK chunk = nullptr;
  engine.create_chunk_from_module(runtime, name, p.c_str(), "RegisterObject", &chunk);
  if (!chunk) return;  // missing or failing: skipped, the next one still runs
  if (engine.prepare_chunk(runtime, chunk) == 0) engine.lua_call(L, 0, 0, p.c_str());
  engine.release_chunk(chunk);
}

void RunStartupScripts(const EngineCalls& engine, QVLRT_RUNTIME runtime,
                       const std::wstring& xar_dir) {
  static const struct {
    const char* name;
    const wchar_t* file;
  } kScripts[] = {
      {"LuaHostWndHelp", L"\\luacode\\HostWndHelper.lua"},
      {"KeyHelper", L"\\luacode\\KeyHelper.lua"},
      {"MenuHelper", L"\\luacode\\MenuHelper.lua"},
      {"CreateFileAssociation", L"\\luacode\\CreateFileAssociation.lua"},
      {"GlobalMacro", L"\\luacode\\GlobalMacro.lua"},
  };
  for (const auto& s : kScripts) RunScript(engine, runtime, s.name, xar_dir + s.file);
}

void InitEngine(const EngineCalls& engine) {
  QV_GRAPHIC_PARAM graphic{};
  engine.prepare_graphic_param(&graphic);
  graphic.flags = 0;
  engine.init_graphic_lib(&graphic);
  engine.set_freetype_enabled(1);
  engine.init_loader(0);
  QVGP_GRAPHICPLUS_PARAM plus{};
  engine.prepare_graphic_plus_param(&plus);
  engine.init_graphic_plus(&plus);

  QVLRT_ENV env = engine.get_env(0);
  if (env) {
    RegisterLuaObjects(env);
    if (hooks().extra_registration) hooks().extra_registration(env);
  }
  QVLRT_RUNTIME runtime = engine.get_runtime(env, 0);

  CPathManager* paths = singleton_ex<CPathManager>::instance();
  CPathManager fallback;  // only when start-up did not create the paths (tests)
  if (!paths) paths = &fallback;
  RunStartupScripts(engine, runtime, paths->GetXarDir());
  engine.add_xar_search_path(utf8(paths->GetSearchDir()).c_str());
  engine.load_xar("XAR");
}

bool StartUp(const HostHooks& h) {
  hooks() = h;
  share_memory probe;
  if (probe.open(kInstanceBlockName, true)) {
    // Another instance serves: hand it our command line and leave.
    AppendCommandLine(probe, hostbase::GetProgramCommandLine());
    probe.close();
    trace("forwarded");
    return false;
  }
  // From here on this process serves: an interrupt must end it through the loop and shutdown.
  os::install_quit_signals();
  instance_block().open(kInstanceBlockName, false);
  if (!adb_block().open(kAdbBlockName, true)) adb_block().open(kAdbBlockName, false);

  if (!os::start_network()) {
    os::remove_quit_signals();
    return false;
  }

  singleton_ex<CPathManager>::acquire();
  trace("create CPathManager");
  CMessageWindow* mw = singleton_ex<CMessageWindow>::acquire();
  trace("create CMessageWindow");
  if (mw) mw->Create(kMessageWindowName);
  // The work items and the driver installation unpack through the desktop's extractor.
  hostbase::SetArchiveExtractor(&desktop::ExtractAll);
  // What the desktop services tell the user (a refused update) goes to the UI package's log too.
  desktop::SetUiLogWriter(&CLuaDeviceManager::WriteLuaLog);
  // The shell functions run processes through the Android module's process item.
  hostbase::SetProcessQueue(&tiv::android::QueueProcess);
  // The services of the other modules are created here, in this order, each by the module
  // that implements it: CIconImagerCreator; CSqliteManager, with "Download.db" in the profile
  // directory; CDriverManager; CAndroidConnectManager; CDeviceManager.
  singleton_ex<desktop::CIconImagerCreator>::acquire();
  trace("create CIconImagerCreator");
  if (CSqliteManager* db = singleton_ex<CSqliteManager>::acquire()) {
    // "Download.db" is opened when the package first uses one of the store's objects (a
    // missing or unusable file leaves the store closed: its operations then fail quietly).
    store::set_host_services({db, database_path(*singleton_ex<CPathManager>::instance()),
                              &store_work()});
  }
  trace("create CSqliteManager");
  singleton_ex<tiv::android::CDriverManager>::acquire();
  trace("create CDriverManager");
  singleton_ex<CAndroidConnectManager>::acquire();
  trace("create CAndroidConnectManager");
  singleton_ex<CDeviceManager>::acquire();
  trace("create CDeviceManager");

  // The COM module object (app::Application, Windows) is not started here: it makes the global
  // interface table on its first request, and shutdown leaves it alone as well.
  InitEngine();
  return true;
}

void RunMessageLoop() { qv::loop::run(); }

void ShutDown() {
  os::remove_quit_signals();
  // Released here first, in this order, by the modules that create them: CDeviceManager,
  // CAndroidConnectManager, CDriverManager, CSqliteManager, CIconImagerCreator.
  // USB detection first: its timer, its listener and its udev watcher go with it.
  singleton_ex<CDeviceManager>::release();
  trace("release CDeviceManager");
  // The ADB runner's workers stop with it; nothing it posts is delivered after this.
  singleton_ex<CAndroidConnectManager>::release();
  trace("release CAndroidConnectManager");
  // Its worker is waited for; a running installer is ended and reports nothing.
  singleton_ex<tiv::android::CDriverManager>::release();
  trace("release CDriverManager");
  // The store's Lua objects go first: they use the database and still reach the Lua state.
  store::release_lua_objects();
  store::release_catalogue_objects();
  singleton_ex<CSqliteManager>::release();
  trace("release CSqliteManager");
  singleton_ex<desktop::CIconImagerCreator>::release();
  trace("release CIconImagerCreator");
  // Its timer lives on the message window and its listeners in the Lua state.
  desktop::ReleaseAppHelp();
  // The tray's window, the drop targets and the clipboard's owner go before the message window.
  desktop::ReleaseShellObjects();
  if (CMessageWindow* mw = singleton_ex<CMessageWindow>::instance()) mw->Destroy();
  singleton_ex<CMessageWindow>::release();
  trace("release CMessageWindow");
  singleton_ex<CPathManager>::release();
  trace("release CPathManager");
  instance_block().close();
  adb_block().close();
  os::stop_network();
}

int HostMain(const HostHooks& h) {
  if (StartUp(h)) {
    RunMessageLoop();
    ShutDown();
  }
  return 0;
}

}  // namespace app
