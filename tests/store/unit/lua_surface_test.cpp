#include <gtest/gtest.h>

#include "fake_downloader.h"
#include "lua_harness.h"
#include "store/lua_download_manager.h"
#include "store/lua_taocan_manager.h"
#include "store/sqlite_manager.h"
#include "qv/path.h"
#include "store_fixture.h"

using store::CLuaDownloadManager;
using store_test::fake_downloader;

namespace {

class recording_poster : public store::work_poster {
 public:
  void post_work(std::intptr_t type) override { posted.push_back(type); }
  std::vector<std::intptr_t> posted;
};

// Helper Lua: reports of every task callback go into the table "log" as "id pos size state".
const char kPrelude[] = R"(
log = {}
function record(id, pos, size, state)
  log[#log + 1] = string.format("%s %s %s %s", type(id),
                                tostring(pos), tostring(size), tostring(state))
end
function logged() return table.concat(log, ";") end
)";

class LuaDownloadManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.open(qv::path::fs_path_utf16(file_)));
    task_record stored;
    stored.task_id = 3;
    stored.task_type = 2;
    stored.task_state = 4;
    stored.file_pos = 3'000'000'000LL;
    stored.file_size = 5'000'000'000LL;
    stored.file_path = u"C:\\下载\\a.apk";
    stored.show_name = u"应用";
    stored.download_url = u"http://h/a.apk";
    stored.logo_url = u"http://h/a.png";
    stored.gid = u"g";
    ASSERT_TRUE(db_.add_task(stored));
    ASSERT_TRUE(db_.open(qv::path::fs_path_utf16(file_)));  // the tasks are read at open
    manager_ = std::make_unique<CLuaDownloadManager>(
        db_, poster_, [this](store::file_download_events& ev) {
          auto d = std::make_unique<fake_downloader>(ev);
          dl_ = d.get();
          return d;
        });
    lua_.install(CLuaDownloadManager::kClassName, CLuaDownloadManager::methods(), manager_.get(),
                 "dm");
    ASSERT_EQ(lua_.run(kPrelude), "");
  }
  std::string dir(const std::string& name) const { return qv::path::fs_path_utf8(dir_ / name); }

  store_test::scratch_dir dir_;
  std::filesystem::path file_ = dir_ / "Download.db";
  CSqliteManager db_;
  recording_poster poster_;
  fake_downloader* dl_ = nullptr;
  store_test::lua_harness lua_;  // outlives the manager, which holds references into it
  std::unique_ptr<CLuaDownloadManager> manager_;
};

TEST_F(LuaDownloadManagerTest, InitHandsTheStoredTasksOnceAfterPosting) {
  ASSERT_EQ(lua_.run(R"(
    calls = 0
    dm:Init(function(tasks) calls = calls + 1; got = tasks end)
    dm:Init(function(tasks) calls = calls + 100 end)
  )"),
            "");
  EXPECT_EQ(lua_.eval("calls"), "0") << "delivered from the posted work, not inside Init";
  ASSERT_EQ(poster_.posted, (std::vector<std::intptr_t>{1}));
  manager_->OnMessage(1);
  EXPECT_EQ(lua_.eval("calls"), "1");
  EXPECT_EQ(lua_.eval("#got"), "1");
  const std::pair<const char*, const char*> fields[] = {
      {"taskId", "3"},
      {"showName", "应用"},
      {"taskType", "2"},
      {"fileSize", "5000000000"},
      {"filePos", "3000000000"},
      {"taskState", "4"},
      {"filePath", "C:\\下载\\a.apk"},
      {"url", "http://h/a.apk"},
      {"logo", "http://h/a.png"},
      {"gid", "g"},
  };
  for (const auto& [key, value] : fields)
    EXPECT_EQ(lua_.eval(std::string("got[1].") + key), value) << key;
}

// The first Init counts even when it is given no function: a later Init is not a first call.
TEST_F(LuaDownloadManagerTest, InitWithoutAFunctionStillUsesUpTheFirstCall) {
  for (const char* first : {"dm:Init(42)", "dm:Init()", "dm:Init('f')"}) {
    SCOPED_TRACE(first);
    poster_.posted.clear();
    manager_ = std::make_unique<CLuaDownloadManager>(
        db_, poster_, [](store::file_download_events& ev) {
          return std::make_unique<fake_downloader>(ev);
        });
    lua_.install(CLuaDownloadManager::kClassName, CLuaDownloadManager::methods(),
                 manager_.get(), "dm");
    ASSERT_EQ(lua_.run(std::string("calls = 0\n") + first +
                       "\ndm:Init(function(tasks) calls = calls + 1 end)"),
              "");
    manager_->OnMessage(1);
    EXPECT_EQ(lua_.eval("calls"), "0");
    EXPECT_TRUE(poster_.posted.empty());
  }
}

TEST_F(LuaDownloadManagerTest, DownloadsReportToTheirFunctions) {
  const std::string a = dir("sub/a.apk");
  ASSERT_EQ(lua_.run("id1 = dm:DownLoadFile('http://h/中.apk', '" + a +
                     "', 1, 'A', 'logo', record)\n"
                     "id2 = dm:DownLoadFile('http://h/b.apk', '" + dir("b.apk") +
                     "', 7, 'B', 'logo', record)"),
            "");
  // The counter starts at the database's next id (4) and is incremented before use.
  EXPECT_EQ(lua_.eval("id1"), "5");
  EXPECT_EQ(lua_.eval("id2"), "6");
  ASSERT_EQ(dl_->requests.size(), 1u);
  EXPECT_EQ(dl_->requests[0].url, "http://h/\xD6\xD0.apk") << "the URL travels in code page 936";
  for (int i = 1; i <= 20; ++i) dl_->progress(0, i * 100, 4000);
  dl_->ready(4000);
  dl_->error(404);
  EXPECT_EQ(lua_.eval("logged()"),
            "number 2000 4000 1;number 4000 4000 5;number 0 0 4");
  CSqliteManager check;
  ASSERT_TRUE(check.open(qv::path::fs_path_utf16(file_)));
  ASSERT_EQ(check.loaded_tasks().size(), 2u) << "the type 7 task is not recorded";
  EXPECT_EQ(check.loaded_tasks()[1].download_url, u"http://h/中.apk");
  EXPECT_EQ(check.loaded_tasks()[1].task_state, 5);
  EXPECT_EQ(poster_.posted, (std::vector<std::intptr_t>{2}));
}

TEST_F(LuaDownloadManagerTest, StoredTaskResumesAndCancelKeepsOrDeletesRows) {
  ASSERT_EQ(lua_.run("r = dm:AddDatebaseTask(3, 'http://h/a.apk', 3000000000, 5000000000, '" +
                     dir("a.apk") + "', 2, 'x', record)"),
            "");
  EXPECT_EQ(lua_.eval("r"), "3");
  ASSERT_EQ(dl_->requests.size(), 1u);
  EXPECT_EQ(dl_->requests[0].headers.at(0).second, "bytes=3000000000 -");
  ASSERT_EQ(lua_.run("dm:UpdateDatebaseTask(3, 4000000000, 5000000000, 3)\n"
                     "dm:StopTask(3)\n"
                     "n = dm:GetNextTaskID()\n"
                     "dm:CancleTask(3, true)"),
            "");
  EXPECT_EQ(dl_->closes, 1);
  EXPECT_EQ(lua_.eval("n"), "5");
  {
    CSqliteManager check;
    ASSERT_TRUE(check.open(qv::path::fs_path_utf16(file_)));
    ASSERT_EQ(check.loaded_tasks().size(), 1u);
    EXPECT_EQ(check.loaded_tasks()[0].file_pos, 4'000'000'000LL);
    EXPECT_EQ(check.loaded_tasks()[0].task_state, 3);
  }
  ASSERT_EQ(lua_.run("dm:CancleTask(3)"), "");
  CSqliteManager check;
  ASSERT_TRUE(check.open(qv::path::fs_path_utf16(file_)));
  EXPECT_TRUE(check.loaded_tasks().empty());
}

TEST_F(LuaDownloadManagerTest, BadCallsAreRejectedWithoutEffect) {
  const char* const bad[] = {
      "dm.DownLoadFile('http://h/x', 'p', 1, 's', 'l', record)",  // no object
      "dm:DownLoadFile(nil, 'p', 1, 's', 'l', record)",
      "dm:DownLoadFile('http://h/x')",
      "dm:AddDatebaseTask(1, 'http://h/x', 0, 0)",
      "dm.GetNextTaskID()",
      "dm.Init(function() end)",
  };
  for (const char* chunk : bad) EXPECT_NE(lua_.run(chunk), "") << chunk;
  EXPECT_TRUE(dl_->requests.empty());
  EXPECT_TRUE(poster_.posted.empty());
  EXPECT_EQ(lua_.eval("dm:GetNextTaskID()"), "5") << "no id was used up";
  // A callback that is not a function is simply absent.
  ASSERT_EQ(lua_.run("dm:DownLoadFile('http://h/x', '" + dir("x") + "', 1, nil, nil, 42)"), "");
  dl_->ready(1);
  EXPECT_EQ(lua_.eval("logged()"), "");
}

TEST_F(LuaDownloadManagerTest, ACallbackThatRaisesDoesNotStopTheQueue) {
  ASSERT_EQ(lua_.run("dm:DownLoadFile('http://h/a', '" + dir("a") +
                     "', 1, '', '', function() error('boom') end)\n"
                     "dm:DownLoadFile('http://h/b', '" + dir("b") + "', 1, '', '', record)"),
            "");
  dl_->ready(1);
  ASSERT_EQ(dl_->requests.size(), 2u);
  dl_->ready(2);
  EXPECT_EQ(lua_.eval("logged()"), "number 2 2 5");
  EXPECT_EQ(lua_gettop(lua_.L), 0);
}

// ---- bundles -------------------------------------------------------------------------

class LuaTaocanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.open(qv::path::fs_path_utf16(dir_ / "Download.db")));
    lua_.install(store::CLuaTaocanManager::kClassName, store::CLuaTaocanManager::methods(),
                 &bundles_, "tc");
  }
  store_test::scratch_dir dir_;
  CSqliteManager db_;
  store::CLuaTaocanManager bundles_{db_};
  store_test::lua_harness lua_;
};

TEST_F(LuaTaocanTest, MethodsAnswerWithBooleansAndTables) {
  ASSERT_EQ(lua_.run(R"(
    r = {}
    r[#r+1] = tc:IsTaocanExist("装机必备")
    r[#r+1] = tc:CreateTaocan("装机必备", 2)
    r[#r+1] = tc:CreateTaocan("装机必备", 3)
    r[#r+1] = tc:AddToTaocan("装机必备", "C:\\a.apk", 1, true)
    r[#r+1] = tc:AddToTaocan("装机必备", "C:\\a.apk", 1, true)
    r[#r+1] = tc:AddToTaocan("装机必备", "C:\\b.apk", 1, false)
    r[#r+1] = tc:ModifyTaocanInfo("装机必备", "C:\\none.apk", 1, true)
    r[#r+1] = tc:UpdateTaoAPKInfo("装机必备", "C:\\a.apk", "com.a", "甲", "a.png")
    r[#r+1] = tc:DeleteTaocanItem("装机必备", "C:\\b.apk")
    items = tc:GetTaocanInfo("装机必备")
    all = tc:GetAllTaocan()
    none = tc:GetTaocanInfo("nothing")
    r[#r+1] = tc:DropTaocan("装机必备")
    after = #tc:GetAllTaocan()
    for i = 1, #r do r[i] = tostring(r[i]) end
    answers = table.concat(r, " ")
  )"),
            "");
  EXPECT_EQ(lua_.eval("answers"), "false true false true false true true true true true");
  EXPECT_EQ(lua_.eval("#items"), "1");
  EXPECT_EQ(lua_.eval("items[1].filePath"), "C:\\a.apk");
  EXPECT_EQ(lua_.eval("type(items[1].select) .. tostring(items[1].select)"), "booleantrue");
  EXPECT_EQ(lua_.eval("items[1].mediaType"), "1");
  EXPECT_EQ(lua_.eval("items[1].packName .. items[1].label .. items[1].icon"), "com.a甲a.png");
  EXPECT_EQ(lua_.eval("all[1].taocan .. ':' .. all[1].type"), "装机必备:2");
  EXPECT_EQ(lua_.eval("#none"), "0");
  EXPECT_EQ(lua_.eval("after"), "0");
}

TEST_F(LuaTaocanTest, MissingStringsAreArgumentErrors) {
  const char* const bad[] = {
      "tc:IsTaocanExist()",          "tc:CreateTaocan(nil, 1)",
      "tc:AddToTaocan('a')",         "tc:UpdateTaoAPKInfo('a', 'p', 'n', 'l')",
      "tc.GetAllTaocan()",           "tc:DeleteTaocanItem('a', {})",
  };
  for (const char* chunk : bad) EXPECT_NE(lua_.run(chunk), "") << chunk;
  EXPECT_TRUE(db_.get_all_taocans().empty());
}

}  // namespace
