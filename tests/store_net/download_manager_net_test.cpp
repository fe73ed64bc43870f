// "DownloadManger.Manager" end to end: Lua functions, the queue, the HTTP file download against
// nginx, the message loop for deferred work and the database file.
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

using namespace http_test;
using store::CLuaDownloadManager;

namespace {

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

int lua_finish(lua_State*) {
  loop_runner::finish();
  return 0;
}

// file_pos and task_state of a row, read on a connection of its own: db_row(path, id).
int lua_db_row(lua_State* L) {
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

const char kPrelude[] = R"(
log = {}
function record(id, pos, size, state)
  log[#log + 1] = string.format("%d %.0f %.0f %d", id, pos, size, state)
end
function logged() return table.concat(log, ";") end
)";

class DownloadManagerNet : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
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

  fs::path dir_;
  CSqliteManager db_;
  loop_poster poster_;
  recording_events rec_;
  store_test::lua_harness lua_;
  std::unique_ptr<CLuaDownloadManager> dm_;
};

TEST_F(DownloadManagerNet, TwoTasksRunInIdOrder) {
  const std::string a = pattern(300000, 11), b = pattern(200000, 12);
  const std::string ua = serve("store_a.bin", a), ub = serve("store_b.bin", b);
  ASSERT_EQ(lua_.run("finals = {}\n"
                     "function final(id, pos, size, state)\n"
                     "  if state ~= 1 then finals[#finals + 1] = id .. ':' .. state end\n"
                     "  if #finals == 2 then finish() end\n"
                     "end\n"
                     "ida = dm:DownLoadFile('" + ua + "', " + lua_string(target("a.bin")) +
                     ", 1, 'A', '', final)\n"
                     "idb = dm:DownLoadFile('" + ub + "', " + lua_string(target("b.bin")) +
                     ", 1, 'B', '', final)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(lua_.eval("table.concat(finals, ' ')"), "1:5 2:5");
  ASSERT_EQ(rec_.starts.size(), 2u) << "each task ran once, one after the other";
  EXPECT_EQ(rec_.starts[0].id, 1);
  EXPECT_EQ(rec_.starts[1].id, 2);
  EXPECT_TRUE(read_file(dir_ / "a.bin") == a);
  EXPECT_TRUE(read_file(dir_ / "b.bin") == b);
}

TEST_F(DownloadManagerNet, EveryTwentiethReportReachesLuaAndEveryFiftiethTheDatabase) {
  const std::string data = pattern(8 << 20, 13);
  const std::string url = serve("store_big.bin", data);
  // At the 40th report nothing is stored yet; at the 100th the database holds that very position.
  ASSERT_EQ(lua_.run("n = 0\n"
                     "function watch(id, pos, size, state)\n"
                     "  if state == 1 then\n"
                     "    n = n + 1\n"
                     "    if n == 2 then at40 = {db_row(DB, id)} end\n"
                     "    if n == 5 then at100 = {db_row(DB, id)}; pos100 = pos end\n"
                     "  else\n"
                     "    done = {id, pos, size, state}; finish()\n"
                     "  end\n"
                     "end\n"
                     "id = dm:DownLoadFile('" + url + "', " + lua_string(target("big.bin")) +
                     ", 1, 'big', '', watch)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  const std::uint64_t reports = dm_->queue().progress_reports();
  ASSERT_GE(reports, 100u) << "the file is too small to show the rule";
  EXPECT_EQ(lua_.eval("n"), std::to_string(reports / 20));
  EXPECT_EQ(lua_.eval("at40[1] .. ' ' .. at40[2]"), "0 0");
  EXPECT_EQ(lua_.eval("string.format('%.0f %d', at100[1], at100[2])"),
            lua_.eval("string.format('%.0f', pos100)") + " 1");
  EXPECT_EQ(lua_.eval("string.format('%.0f %.0f %d', done[2], done[3], done[4])"),
            std::to_string(data.size()) + " " + std::to_string(data.size()) + " 5");
  EXPECT_EQ(lua_.eval("string.format('%.0f %d', db_row(DB, id))"),
            std::to_string(data.size()) + " 5");
  EXPECT_TRUE(read_file(dir_ / "big.bin") == data);
}

TEST_F(DownloadManagerNet, StopStartsTheNextAndRestartResumesWhereItStopped) {
  const std::string big = pattern(6 << 20, 14), small = pattern(100000, 15);
  const std::string ubig = serve("store_resume.bin", big), usmall = serve("store_small.bin", small);
  ASSERT_EQ(lua_.run("events = {}\n"
                     "function on_big(id, pos, size, state)\n"
                     "  events[#events + 1] = 'big:' .. state\n"
                     "  if state == 1 and not stopped then\n"
                     "    stopped = pos; dm:StopTask(id)\n"
                     "  elseif state == 5 then finish() end\n"
                     "end\n"
                     "function on_small(id, pos, size, state)\n"
                     "  events[#events + 1] = 'small:' .. state\n"
                     "  if state == 5 then dm:RestartTask(idbig) end\n"
                     "end\n"
                     "idbig = dm:DownLoadFile('" + ubig + "', " + lua_string(target("r.bin")) +
                     ", 1, 'big', '', on_big)\n"
                     "dm:DownLoadFile('" + usmall + "', " + lua_string(target("s.bin")) +
                     ", 1, 'small', '', on_small)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  const std::string events = lua_.eval("table.concat(events, ' ')");
  EXPECT_EQ(events.substr(0, 20), "big:1 small:5 big:1 ") << events;
  EXPECT_EQ(events.substr(events.size() - 5), "big:5");
  ASSERT_EQ(rec_.starts.size(), 3u);
  EXPECT_EQ(rec_.starts[0].range_start, 0u);
  EXPECT_EQ(rec_.starts[1].id, 2);
  EXPECT_EQ(rec_.starts[2].id, 1);
  EXPECT_EQ(std::to_string(rec_.starts[2].range_start), lua_.eval("string.format('%.0f', stopped)"))
      << "the server answered the stored position";
  EXPECT_GT(rec_.starts[2].range_start, 0u);
  EXPECT_TRUE(read_file(dir_ / "r.bin") == big) << "byte-identical after the resume";
  EXPECT_FALSE(fs::exists(dir_ / "r.bin.tmp"));
  // nginx answered the resumed request with a partial answer.
  const std::string log = read_file(servers::get().access_log);
  EXPECT_NE(log.find("/store_resume.bin 206"), std::string::npos);
}

TEST_F(DownloadManagerNet, NotModifiedCompletesWithTheExistingFileSize) {
  const std::string url = serve("store_same.bin", pattern(5000, 16));
  write_file(dir_ / "same.bin", "the local copy");
  fs::last_write_time(dir_ / "same.bin", fs::last_write_time(servers::get().www / "store_same.bin"));
  ASSERT_EQ(lua_.run("dm:DownLoadFile('" + url + "', " + lua_string(target("same.bin")) +
                     ", 1, '', '', function(...) record(...); finish() end)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(lua_.eval("logged()"), "1 14 14 5");
  EXPECT_EQ(read_file(dir_ / "same.bin"), "the local copy");
}

TEST_F(DownloadManagerNet, NotFoundFailsAndKeepsTheTemporaryFile) {
  write_file(dir_ / "gone.bin.tmp", "an earlier attempt");
  const std::string url = servers::get().nginx("/store_no_such_file.bin");
  ASSERT_EQ(lua_.run("id = dm:DownLoadFile('" + url + "', " + lua_string(target("gone.bin")) +
                     ", 1, '', '', function(...) record(...); finish() end)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(lua_.eval("logged()"), "1 0 0 4");
  EXPECT_EQ(rec_.errors, (std::vector<std::int32_t>{404}));
  ASSERT_TRUE(dm_->queue().task(1));
  EXPECT_EQ(dm_->queue().task(1)->state, store::kTaskFailed);
  EXPECT_EQ(lua_.eval("string.format('%.0f %d', db_row(DB, id))"), "0 4");
  EXPECT_EQ(read_file(dir_ / "gone.bin.tmp"), "an earlier attempt");
  EXPECT_FALSE(fs::exists(dir_ / "gone.bin"));
}

TEST_F(DownloadManagerNet, CancelWithKeepRecordKeepsTheRow) {
  const std::string url = serve("store_cancel.bin", pattern(6 << 20, 17));
  const std::string small = pattern(1000, 18);
  const std::string usmall = serve("store_after_cancel.bin", small);
  ASSERT_EQ(lua_.run("function on_big(id, pos, size, state)\n"
                     "  if state == 1 and not cancelled then cancelled = true; dm:CancleTask(id, true) end\n"
                     "end\n"
                     "idbig = dm:DownLoadFile('" + url + "', " + lua_string(target("c.bin")) +
                     ", 1, '', '', on_big)\n"
                     "idgone = dm:DownLoadFile('" + url + "', " + lua_string(target("d.bin")) +
                     ", 1, '', '', on_big)\n"
                     "dm:CancleTask(idgone)\n"
                     "dm:DownLoadFile('" + usmall + "', " + lua_string(target("e.bin")) +
                     ", 1, '', '', function(...) record(...); finish() end)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  EXPECT_FALSE(dm_->queue().task(1));
  EXPECT_EQ(lua_.eval("select(2, db_row(DB, idbig))"), "0") << "the row stays, still waiting";
  EXPECT_EQ(lua_.eval("select(2, db_row(DB, idgone))"), "-1") << "the row is gone";
  EXPECT_EQ(lua_.eval("logged()"), "3 1000 1000 5");
  EXPECT_TRUE(read_file(dir_ / "e.bin") == small);
  EXPECT_FALSE(fs::exists(dir_ / "c.bin"));
}

}  // namespace
