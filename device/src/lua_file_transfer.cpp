#include "device/lua_file_transfer.h"

#include "device/file_transfer.h"
#include "luabind/args.h"
#include "luabind/lua_object.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"
#include "qv/text.h"

#include <lauxlib.h>

#include <memory>

namespace device {
namespace {

using luabind::CLuaEvent;

// A task's Lua function, held until the last copy of the callback goes (its task's release).
std::shared_ptr<CLuaEvent> hold_function(lua_State* L, int index) {
  auto held = std::make_shared<CLuaEvent>();
  if (!held->Hold(L, index)) return nullptr;
  return held;
}

// The callback of a worker task: (device_id, id, current_file, status, done, total). Both byte
// counts go as Lua numbers so that they stay whole beyond 4 GiB.
transfer_callback worker_callback(lua_State* L, int index, const std::string& device_id) {
  auto held = hold_function(L, index);
  if (!held) return nullptr;
  return [held, device_id](const transfer_report& r) {
    held->Fire([&](lua_State* S) {
      luabind::push_string(S, device_id);
      lua_pushnumber(S, r.id);
      luabind::push_wstring(S, r.current_file);
      lua_pushnumber(S, r.status);
      lua_pushnumber(S, static_cast<lua_Number>(r.done));
      lua_pushnumber(S, static_cast<lua_Number>(r.total));
      return 6;
    });
  };
}

std::uint32_t task_id(lua_State* L, int index) { return luabind::to_integer<std::uint32_t>(luaL_checknumber(L, index)); }

template <typename T>
struct lua_object {
  std::string device_id;
  T core;
  template <typename... Args>
  explicit lua_object(std::string id, Args&&... args) : device_id(std::move(id)), core(std::forward<Args>(args)...) {}
};

using send_object = lua_object<file_sender>;
using get_object = lua_object<file_getter>;
using copy_object = lua_object<dir_copier>;

// ---- SendFile.Manager.Class -------------------------------------------------------------------

send_object* check_send(lua_State* L) { return luabind::check_object<send_object>(L, kSendFileClass); }

int SendInit(lua_State* L) {
  if (send_object* o = check_send(L)) o->core.init();
  return 0;
}

template <std::uint16_t Code>
int SendTask(lua_State* L) {
  send_object* o = check_send(L);
  if (!o) return 0;
  std::string device_dir = luabind::check_string(L, 2);
  std::string local_path = luabind::check_string(L, 3);
  const std::uint32_t id =
      o->core.send(Code, std::move(device_dir), std::move(local_path), worker_callback(L, 4, o->device_id));
  lua_pushnumber(L, id);
  return 1;
}

int SendCancel(lua_State* L) {
  if (send_object* o = check_send(L)) o->core.cancel(task_id(L, 2));
  return 0;
}

int SendCancelAll(lua_State* L) {
  if (send_object* o = check_send(L)) o->core.cancel_all();
  return 0;
}

int SendTestConnect(lua_State* L) {
  send_object* o = check_send(L);
  if (!o || !o->core.test_connect()) return 0;
  lua_pushboolean(L, 1);
  return 1;
}

int SendUnInit(lua_State* L) {
  if (send_object* o = check_send(L)) o->core.uninit();
  return 0;
}

int SendDelete(lua_State* L) { return luabind::delete_object<send_object>(L, kSendFileClass); }

const QVLRT_METHOD kSendMethods[] = {
    {"Init", SendInit, 0},
    {"SendCommonFile", SendTask<transfer_code::kSendCommonFile>, 0},
    {"SendApp", SendTask<transfer_code::kSendApp>, 0},
    {"SendVideoFile", SendTask<transfer_code::kSendVideo>, 0},
    {"SendPhotoFile", SendTask<transfer_code::kSendPhoto>, 0},
    {"SendMusicFile", SendTask<transfer_code::kSendMusic>, 0},
    {"CancleTask", SendCancel, 0},
    {"CancleAllTask", SendCancelAll, 0},
    {"TestConnect", SendTestConnect, 0},
    {"UnInit", SendUnInit, 0},
    {"delete_self", SendDelete, 0},
    {"__gc", SendDelete, 0},
    {nullptr, nullptr, 0},
};

// ---- GetFile.Manager.Class --------------------------------------------------------------------

get_object* check_get(lua_State* L) { return luabind::check_object<get_object>(L, kGetFileClass); }

int GetInit(lua_State* L) {
  if (get_object* o = check_get(L)) o->core.init();
  return 0;
}

template <std::uint16_t Code>
int GetTask(lua_State* L) {
  get_object* o = check_get(L);
  if (!o) return 0;
  std::string device_path = luabind::check_string(L, 2);
  std::string local_path = luabind::check_string(L, 3);
  file_getter::callback cb;
  if (auto held = hold_function(L, 4)) {
    cb = [held, device_id = o->device_id](std::uint32_t id, std::int32_t status, const std::string& local,
                                          std::uint64_t n) {
      held->Fire([&](lua_State* S) {
        luabind::push_string(S, device_id);
        lua_pushnumber(S, id);
        lua_pushnumber(S, status);
        luabind::push_string(S, local);
        lua_pushnumber(S, static_cast<lua_Number>(n));
        return 5;
      });
    };
  }
  lua_pushnumber(L, o->core.get(Code, std::move(device_path), std::move(local_path), std::move(cb)));
  return 1;
}

int GetSendFileTask(lua_State* L) {
  check_get(L);
  return 0;
}

int GetCancel(lua_State* L) {
  if (get_object* o = check_get(L)) o->core.cancel(task_id(L, 2));
  return 0;
}

int GetCancelAll(lua_State* L) {
  if (get_object* o = check_get(L)) o->core.cancel_all();
  return 0;
}

int GetContinue(lua_State* L) {
  if (get_object* o = check_get(L)) o->core.continue_next();
  return 0;
}

int GetUnInit(lua_State* L) {
  if (get_object* o = check_get(L)) o->core.uninit();
  return 0;
}

int GetGc(lua_State* L) { return luabind::delete_object<get_object>(L, kGetFileClass); }

const QVLRT_METHOD kGetMethods[] = {
    {"Init", GetInit, 0},
    {"GetFileTask", GetTask<transfer_code::kGetFile>, 0},
    {"GetIconTask", GetTask<transfer_code::kGetIcon>, 0},
    {"GetCompressPic", GetTask<transfer_code::kGetCompressedPicture>, 0},
    {"GetVideoShot", GetTask<transfer_code::kGetVideoShot>, 0},
    {"SendFileTask", GetSendFileTask, 0},
    {"CancleTask", GetCancel, 0},
    {"CancleAllTask", GetCancelAll, 0},
    {"ContinueNextTask", GetContinue, 0},
    {"UnInit", GetUnInit, 0},
    {"__gc", GetGc, 0},
    {nullptr, nullptr, 0},
};

// ---- DirCopy.Manager.Class --------------------------------------------------------------------

copy_object* check_copy(lua_State* L) { return luabind::check_object<copy_object>(L, kDirCopyClass); }

int CopyInit(lua_State* L) {
  if (copy_object* o = check_copy(L)) o->core.init();
  return 0;
}

int CopyDir(lua_State* L) {
  copy_object* o = check_copy(L);
  if (!o) return 0;
  std::string target_dir = luabind::check_string(L, 2);
  std::string source_path = luabind::check_string(L, 3);
  lua_pushnumber(L, o->core.copy(std::move(target_dir), std::move(source_path), worker_callback(L, 4, o->device_id)));
  return 1;
}

int CopyCancel(lua_State* L) {
  if (copy_object* o = check_copy(L)) o->core.cancel(task_id(L, 2));
  return 0;
}

int CopyCancelAll(lua_State* L) {
  if (copy_object* o = check_copy(L)) o->core.cancel_all();
  return 0;
}

int CopyUnInit(lua_State* L) {
  if (copy_object* o = check_copy(L)) o->core.uninit();
  return 0;
}

int CopyGc(lua_State* L) { return luabind::delete_object<copy_object>(L, kDirCopyClass); }

const QVLRT_METHOD kCopyMethods[] = {
    {"Init", CopyInit, 0},
    {"CopyDir", CopyDir, 0},
    {"CancleTask", CopyCancel, 0},
    {"CancleAllTask", CopyCancelAll, 0},
    {"UnInit", CopyUnInit, 0},
    {"__gc", CopyGc, 0},
    {nullptr, nullptr, 0},
};

// Kept as the wide device identifier would give it back: malformed UTF-8 becomes U+FFFD.
std::string normalised(const std::string& id) { return qv::text::wide_to_utf8(qv::text::utf8_to_wide(id)); }

}  // namespace

void PushSendFile(lua_State* L, const std::string& device_id, std::uint16_t port) {
  auto object = std::make_unique<send_object>(normalised(device_id), port);
  QVLRT_PushQVObject(L, kSendFileClass, object.release());
}

void PushGetFile(lua_State* L, const std::string& device_id, std::uint16_t port) {
  auto object = std::make_unique<get_object>(normalised(device_id), port);
  QVLRT_PushQVObject(L, kGetFileClass, object.release());
}

void PushCopyDir(lua_State* L, const std::string& device_id) {
  auto object = std::make_unique<copy_object>(normalised(device_id));
  QVLRT_PushQVObject(L, kDirCopyClass, object.release());
}

void RegisterSendFileClass(QVLRT_ENV env) { luabind::RegisterClass(env, kSendFileClass, kSendMethods); }
void RegisterGetFileClass(QVLRT_ENV env) { luabind::RegisterClass(env, kGetFileClass, kGetMethods); }
void RegisterDirCopyClass(QVLRT_ENV env) { luabind::RegisterClass(env, kDirCopyClass, kCopyMethods); }

}  // namespace device
