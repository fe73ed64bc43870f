#include "store/lua_download_manager.h"

#include "lua_support.h"
#include "store/codepage.h"
#include "store/sqlite_manager.h"
#include "store/text.h"

namespace store {
namespace {

constexpr const char* kClassName = CLuaDownloadManager::kClassName;

// A task's Lua function; the reference goes when the queue lets go of the task.
class lua_task_callback : public download_callback {
 public:
  lua_task_callback(lua_State* L, int index) { fn_.Hold(L, index); }
  void call(std::int32_t id, std::int64_t pos, std::int64_t size, std::int32_t state) override {
    lua_State* L = fn_.state();
    lua::push(fn_);
    lua_pushinteger(L, id);
    lua_pushnumber(L, static_cast<lua_Number>(pos));
    lua_pushnumber(L, static_cast<lua_Number>(size));
    lua_pushinteger(L, state);
    lua::call(L, 4);
  }

 private:
  luabind::CLuaEvent fn_;
};

download_callback_ptr make_callback(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TFUNCTION) return nullptr;
  return std::make_shared<lua_task_callback>(L, index);
}

std::string wire_url(const lua::string_arg& url) {
  return utf16_to_cp936(utf8_to_utf16(std::string_view(url.data, url.size)));
}

std::u16string u16(const lua::string_arg& s) {
  return utf8_to_utf16(std::string_view(s.data, s.size));
}

}  // namespace

CLuaDownloadManager::CLuaDownloadManager(CSqliteManager& db, work_poster& poster,
                                         const download_queue::downloader_factory& factory)
    : db_(db),
      poster_(poster),
      queue_(&db, db.next_task_id(), factory, [this] { poster_.post_work(kWorkStartNext); }) {}

CLuaDownloadManager::~CLuaDownloadManager() = default;

const QVLRT_METHOD* CLuaDownloadManager::methods() {
  static const QVLRT_METHOD table[] = {
      {"Init", &Init, 0},
      {"DownLoadFile", &DownLoadFile, 0},
      {"CancleTask", &CancleTask, 0},
      {"StopTask", &StopTask, 0},
      {"RestartTask", &RestartTask, 0},
      {"AddDatebaseTask", &AddDatebaseTask, 0},
      {"UpdateDatebaseTask", &UpdateDatebaseTask, 0},
      {"GetNextTaskID", &GetNextTaskID, 0},
      {nullptr, nullptr, 0},
  };
  return table;
}

void CLuaDownloadManager::OnMessage(std::intptr_t work_type) {
  if (work_type == kWorkInitTasks) deliver_stored_tasks();
  if (work_type == kWorkStartNext) queue_.run_deferred();
}

void CLuaDownloadManager::deliver_stored_tasks() {
  if (!init_callback_) return;
  lua_State* L = init_callback_->state();
  lua::push(*init_callback_);
  lua_createtable(L, 0, 0);
  int index = 1;
  for (const task_record& t : db_.loaded_tasks()) {
    lua_createtable(L, 0, 0);
    lua::set_field(L, "taskId", t.task_id);
    lua::set_field(L, "showName", utf16_to_utf8(t.show_name));
    lua::set_field(L, "taskType", t.task_type);
    // Numbers rather than 32-bit integers: files of 2 GiB and more keep their sizes.
    lua::set_number(L, "fileSize", static_cast<lua_Number>(t.file_size));
    lua::set_number(L, "filePos", static_cast<lua_Number>(t.file_pos));
    lua::set_field(L, "taskState", t.task_state);
    lua::set_field(L, "filePath", utf16_to_utf8(t.file_path));
    lua::set_field(L, "url", utf16_to_utf8(t.download_url));
    lua::set_field(L, "logo", utf16_to_utf8(t.logo_url));
    lua::set_field(L, "gid", utf16_to_utf8(t.gid));
    lua_rawseti(L, -2, index++);
  }
  lua::call(L, 1);
}

int CLuaDownloadManager::Init(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self == nullptr || self->init_callback_ || lua_type(L, 2) != LUA_TFUNCTION) return 0;
  self->init_callback_ = std::make_unique<luabind::CLuaEvent>();
  self->init_callback_->Hold(L, 2);
  self->poster_.post_work(kWorkInitTasks);
  return 0;
}

int CLuaDownloadManager::DownLoadFile(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg url = lua::check_string(L, 2);
  const lua::string_arg path = lua::check_string(L, 3);
  const std::int32_t type = lua::to_int32(L, 4);
  const lua::string_arg show = lua::opt_string(L, 5);
  const lua::string_arg logo = lua::opt_string(L, 6);
  std::int32_t id;
  {
    new_download d;
    d.url = wire_url(url);
    d.url_text = u16(url);
    d.path = u16(path);
    d.task_type = type;
    d.show_name = u16(show);
    d.logo = u16(logo);
    d.callback = make_callback(L, 7);
    id = self->queue_.download_file(std::move(d));
  }
  lua_pushinteger(L, id);
  return 1;
}

int CLuaDownloadManager::AddDatebaseTask(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self == nullptr) return 0;
  const std::int32_t id = lua::to_int32(L, 2);
  const lua::string_arg url = lua::check_string(L, 3);
  const std::int64_t pos = lua::to_int64(L, 4);
  const std::int64_t size = lua::to_int64(L, 5);
  const lua::string_arg path = lua::check_string(L, 6);
  // Arguments 7 (task type) and 8 (shown name) belong to the stored row, which stays as it is.
  self->queue_.add_stored_task(id, wire_url(url), pos, size, u16(path), make_callback(L, 9));
  lua_pushinteger(L, id);
  return 1;
}

int CLuaDownloadManager::UpdateDatebaseTask(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self == nullptr) return 0;
  self->queue_.update_stored_task(lua::to_int32(L, 2), lua::to_int64(L, 3), lua::to_int64(L, 4),
                                  lua::to_int32(L, 5));
  return 0;
}

int CLuaDownloadManager::GetNextTaskID(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self == nullptr) return 0;
  lua_pushinteger(L, self->queue_.next_task_id());
  return 1;
}

int CLuaDownloadManager::RestartTask(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self != nullptr) self->queue_.restart_task(lua::to_int32(L, 2));
  return 0;
}

int CLuaDownloadManager::StopTask(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self != nullptr) self->queue_.stop_task(lua::to_int32(L, 2));
  return 0;
}

int CLuaDownloadManager::CancleTask(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaDownloadManager>(L, kClassName);
  if (self != nullptr) self->queue_.cancel_task(lua::to_int32(L, 2), lua_toboolean(L, 3) != 0);
  return 0;
}

}  // namespace store
