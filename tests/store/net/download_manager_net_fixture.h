// The download manager test fixture: the Lua object over the real HTTP file download, with
// nginx serving the files and the loop delivering deferred work.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

#include "http_test_support.h"
#include "lua_harness.h"
#include "qv/message_loop.h"
#include "store/http_downloader.h"
#include "store/lua_download_manager.h"
#include "store/sqlite_manager.h"
#include "qv/path.h"

namespace download_net_test {

using namespace http_test;
using store::CLuaDownloadManager;


// Deferred work through a window of the loop, as the message window delivers it.
class loop_poster : public store::work_poster {
 public:
  loop_poster() {
    qv::loop::window_spec spec;
    spec.class_name = L"TivorelStoreTestWork";
    spec.title = L"work";
    window_ = qv::loop::create_window(spec, &proc, this);
  }
  ~loop_poster() override { qv::loop::destroy_window(window_); }
  void post_work(std::intptr_t type) override {
    qv::loop::post_message(window_, qv::loop::kWmUser + 1, 0, type);
  }
  CLuaDownloadManager* target = nullptr;

 private:
  static qv::loop::lresult_t proc(void* user, qv::loop::window_handle w, unsigned msg,
                                  qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
    auto* self = static_cast<loop_poster*>(user);
    if (msg == qv::loop::kWmUser + 1) {
      if (self->target) self->target->OnMessage(lp);
      return 0;
    }
    return qv::loop::default_window_proc(w, msg, wp, lp);
  }
  qv::loop::window_handle window_ = nullptr;
};

// Sits between the downloader and the queue and notes where each request started.
class recording_events : public store::file_download_events {
 public:
  struct start {
    std::int32_t id;
    std::uint64_t range_start;
  };
  void on_file_ready(std::int32_t id, const std::string& url, std::uint64_t size,
                     const std::u16string& path, int code) override {
    last_ = -1;
    target->on_file_ready(id, url, size, path, code);
  }
  void on_file_error(std::int32_t id, const std::string& url, std::int32_t code) override {
    last_ = -1;
    errors.push_back(code);
    target->on_file_error(id, url, code);
  }
  void on_file_progress(std::int32_t id, std::uint64_t range_start, std::uint64_t received,
                        std::uint64_t total) override {
    if (id != last_) starts.push_back({id, range_start});
    last_ = id;
    target->on_file_progress(id, range_start, received, total);
  }
  store::file_download_events* target = nullptr;
  std::vector<start> starts;
  std::vector<std::int32_t> errors;

 private:
  std::int32_t last_ = -1;
};

inline int lua_finish(lua_State*) {
  loop_runner::finish();
  return 0;
}

// file_pos and task_state of a row, read on a connection of its own: db_row(path, id).
inline int lua_db_row(lua_State* L) {
  const char* path = luaL_checkstring(L, 1);
  const lua_Integer id = luaL_checkinteger(L, 2);
  sqlite3* db = nullptr;
  double pos = -1;
  int state = -1;
  if (sqlite3_open(path, &db) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "select file_pos, task_state from task_info_table where task_id=?",
                           -1, &st, nullptr) == SQLITE_OK) {
      sqlite3_bind_int64(st, 1, id);
      if (sqlite3_step(st) == SQLITE_ROW) {
        pos = static_cast<double>(sqlite3_column_int64(st, 0));
        state = sqlite3_column_int(st, 1);
      }
      sqlite3_finalize(st);
    }
  }
  sqlite3_close_v2(db);
  lua_pushnumber(L, pos);
  lua_pushinteger(L, state);
  return 2;
}

inline const char kPrelude[] = R"(
log = {}
function record(id, pos, size, state)
  log[#log + 1] = string.format("%d %.0f %.0f %d", id, pos, size, state)
end
function logged() return table.concat(log, ";") end
)";

class DownloadManagerNet : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path();
    ASSERT_TRUE(db_.open(qv::path::fs_path_utf16(dir_ / "Download.db")));
    dm_ = std::make_unique<CLuaDownloadManager>(db_, poster_,
                                                [this](store::file_download_events& queue) {
                                                  rec_.target = &queue;
                                                  return store::make_http_downloader(rec_);
                                                });
    poster_.target = dm_.get();
    lua_.install(CLuaDownloadManager::kClassName, CLuaDownloadManager::methods(), dm_.get(),
                 "dm");
    lua_register(lua_.L, "finish", &lua_finish);
    lua_register(lua_.L, "db_row", &lua_db_row);
    ASSERT_EQ(lua_.run(kPrelude), "");
    ASSERT_EQ(lua_.run("DB = [[" + qv::path::fs_path_utf8(dir_ / "Download.db") + "]]"), "");
  }
  void TearDown() override { poster_.target = nullptr; }

  // Puts content at www/name and gives its URL.
  std::string serve(const std::string& name, const std::string& content) {
    write_file(servers::get().www / name, content);
    return servers::get().nginx("/" + name);
  }
  std::string target(const std::string& name) const { return qv::path::fs_path_utf8(dir_ / name); }
  std::string lua_string(const std::string& s) const { return "[[" + s + "]]"; }

  const tiv_test::TempDir tmp_;  // outlives the database in it
  fs::path dir_;
  CSqliteManager db_;
  loop_poster poster_;
  recording_events rec_;
  store_test::lua_harness lua_;
  std::unique_ptr<CLuaDownloadManager> dm_;
};

}  // namespace download_net_test
