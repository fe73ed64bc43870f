#include "store/lua_download_manager.h"

#include "luabind/args.h"
#include "store/codepage.h"
#include "store/sqlite_manager.h"
#include "qv/text.h"

namespace store {
namespace {

constexpr const char* kClassName = CLuaDownloadManager::kClassName;

// A task's Lua function; the reference goes when the queue lets go of the task.
class lua_task_callback : public download_callback {
 public:
  lua_task_callback(lua_State* L, int index) { fn_.Hold(L, index); }
  void call(std::int32_t id, std::int64_t pos, std::int64_t size, std::int32_t state) override {
    fn_.Fire([&](lua_State* L) {
      lua_pushinteger(L, id);
      lua_pushnumber(L, static_cast<lua_Number>(pos));
      lua_pushnumber(L, static_cast<lua_Number>(size));
      lua_pushinteger(L, state);
      return 4;
    });
  }

 private:
  luabind::CLuaEvent fn_;
};

download_callback_ptr make_callback(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TFUNCTION) return nullptr;
  return std::make_shared<lua_task_callback>(L, index);
}

std::string wire_url(const std::string& url) {
  return utf16_to_cp936(qv::text::utf8_to_utf16(url));
}

std::u16string u16(const std::string& s) { return qv::text::utf8_to_utf16(s); }

CLuaDownloadManager* self_of(lua_State* L) {
  return luabind::check_object<CLuaDownloadManager>(L, kClassName);
}

}  // namespace

CLuaDownloadManager::CLuaDownloadManager(CSqliteManager& db, work_poster& poster,
                                         const download_queue::downloader_factory& factory)
    : db_(db),
      poster_(poster),
      queue_(&db, db.next_task_id(), factory, [this] { poster_.post_work(kWorkStartNext); }) {}

CLuaDownloadManager::~CLuaDownloadManager() = default;

void CLuaDownloadManager::OnMessage(std::intptr_t work_type) {
  if (work_type == kWorkInitTasks) deliver_stored_tasks();
  if (work_type == kWorkStartNext) queue_.run_deferred();
}

bool CLuaDownloadManager::start_init(lua_State* L, int index) {
  if (init_called_) return false;
  init_called_ = true;
  if (lua_type(L, index) != LUA_TFUNCTION) return true;
  init_callback_ = std::make_unique<luabind::CLuaEvent>();
  init_callback_->Hold(L, index);
  poster_.post_work(kWorkInitTasks);
  return true;
}

void CLuaDownloadManager::deliver_stored_tasks() {
  if (!init_callback_) return;
  init_callback_->Fire([this](lua_State* L) {
    lua_createtable(L, 0, 0);
    int index = 1;
    for (const task_record& t : db_.loaded_tasks()) {
      lua_createtable(L, 0, 0);
      luabind::set_field(L, "taskId", t.task_id);
      luabind::set_field(L, "showName", qv::text::utf16_to_utf8(t.show_name));
      luabind::set_field(L, "taskType", t.task_type);
      // Numbers rather than 32-bit integers: files of 2 GiB and more keep their sizes.
      luabind::set_number(L, "fileSize", static_cast<lua_Number>(t.file_size));
      luabind::set_number(L, "filePos", static_cast<lua_Number>(t.file_pos));
      luabind::set_field(L, "taskState", t.task_state);
      luabind::set_field(L, "filePath", qv::text::utf16_to_utf8(t.file_path));
      luabind::set_field(L, "url", qv::text::utf16_to_utf8(t.download_url));
      luabind::set_field(L, "logo", qv::text::utf16_to_utf8(t.logo_url));
      luabind::set_field(L, "gid", qv::text::utf16_to_utf8(t.gid));
      lua_rawseti(L, -2, index++);
    }
    return 1;
  });
}

namespace {

// Only the first call counts, whatever it is given: a later Init never stores a callback or
// delivers the stored tasks again.
int Init(lua_State* L) {
  auto* self = self_of(L);
  if (self != nullptr) self->start_init(L, 2);
  return 0;
}

int DownLoadFile(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string url = luabind::check_string(L, 2);
  new_download d;
  d.url = wire_url(url);
  d.url_text = u16(url);
  d.path = u16(luabind::check_string(L, 3));
  d.task_type = luabind::opt_int<std::int32_t>(L, 4, 0);
  d.show_name = u16(luabind::opt_string(L, 5));
  d.logo = u16(luabind::opt_string(L, 6));
  d.callback = make_callback(L, 7);
  lua_pushinteger(L, self->queue().download_file(std::move(d)));
  return 1;
}

int AddDatebaseTask(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const auto id = luabind::opt_int<std::int32_t>(L, 2, 0);
  const std::string url = luabind::check_string(L, 3);
  const auto pos = luabind::opt_int<std::int64_t>(L, 4, 0);
  const auto size = luabind::opt_int<std::int64_t>(L, 5, 0);
  const std::u16string path = u16(luabind::check_string(L, 6));
  // Arguments 7 (task type) and 8 (shown name) belong to the stored row, which stays as it is.
  self->queue().add_stored_task(id, wire_url(url), pos, size, path, make_callback(L, 9));
  lua_pushinteger(L, id);
  return 1;
}

int UpdateDatebaseTask(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  self->queue().update_stored_task(
      luabind::opt_int<std::int32_t>(L, 2, 0), luabind::opt_int<std::int64_t>(L, 3, 0),
      luabind::opt_int<std::int64_t>(L, 4, 0), luabind::opt_int<std::int32_t>(L, 5, 0));
  return 0;
}

int GetNextTaskID(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  lua_pushinteger(L, self->queue().next_task_id());
  return 1;
}

int RestartTask(lua_State* L) {
  auto* self = self_of(L);
  if (self != nullptr) self->queue().restart_task(luabind::opt_int<std::int32_t>(L, 2, 0));
  return 0;
}

int StopTask(lua_State* L) {
  auto* self = self_of(L);
  if (self != nullptr) self->queue().stop_task(luabind::opt_int<std::int32_t>(L, 2, 0));
  return 0;
}

int CancleTask(lua_State* L) {
  auto* self = self_of(L);
  if (self != nullptr)
    self->queue().cancel_task(luabind::opt_int<std::int32_t>(L, 2, 0),
                             luabind::opt_bool(L, 3, false));
  return 0;
}

}  // namespace

const QVLRT_METHOD* CLuaDownloadManager::methods() {
  static const QVLRT_METHOD table[] = {
      {"Init", Init, 0},
      {"DownLoadFile", DownLoadFile, 0},
      {"CancleTask", CancleTask, 0},
      {"StopTask", StopTask, 0},
      {"RestartTask", RestartTask, 0},
      {"AddDatebaseTask", AddDatebaseTask, 0},
      {"UpdateDatebaseTask", UpdateDatebaseTask, 0},
      {"GetNextTaskID", GetNextTaskID, 0},
      {nullptr, nullptr, 0},
  };
  return table;
}

}  // namespace store
