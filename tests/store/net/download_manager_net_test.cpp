// "DownloadManger.Manager" end to end: Lua functions, the queue, the HTTP file download against
// nginx, the message loop for deferred work and the database file.
#include "download_manager_net_fixture.h"

using namespace http_test;
using store::CLuaDownloadManager;
using download_net_test::DownloadManagerNet;

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
  EXPECT_NE(access_log_with("/store_resume.bin 206").find("/store_resume.bin 206"), std::string::npos);
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
