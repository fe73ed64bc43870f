// A full disk during a download, as a small file-size limit for this process: the task fails,
// what was written and the earlier downloads stay, and once space is back the task resumes to a
// byte-identical file.
#include "download_manager_net_fixture.h"
#include "file_size_limit_posix.h"

using namespace http_test;
using download_net_test::DownloadManagerNet;

namespace {

using tiv_test_disk::file_size_limit;

}  // namespace

namespace download_net_test {

TEST_F(DownloadManagerNet, FullDiskFailsKeepsEarlierDataAndResumesOnceSpaceIsBack) {
  const std::string small = pattern(200000, 21), big = pattern(3 << 20, 22);
  const std::string usmall = serve("store_disk_small.bin", small);
  const std::string ubig = serve("store_disk_big.bin", big);
  ASSERT_EQ(lua_.run("dm:DownLoadFile('" + usmall + "', " + lua_string(target("small.bin")) +
                     ", 1, '', '', function(id, pos, size, state) if state ~= 1 then finish() end end)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  ASSERT_TRUE(read_file(dir_ / "small.bin") == small);

  file_size_limit limit(1 << 20);
  ASSERT_TRUE(limit.ok());
  ASSERT_EQ(lua_.run("states = {}\n"
                     "function on_big(id, pos, size, state)\n"
                     "  if state ~= 1 then states[#states + 1] = state; finish() end\n"
                     "end\n"
                     "id = dm:DownLoadFile('" + ubig + "', " + lua_string(target("big.bin")) +
                     ", 1, '', '', on_big)"),
            "");
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(lua_.eval("table.concat(states, ' ')"), "4") << "a full disk fails the task";
  EXPECT_FALSE(rec_.errors.empty());
  EXPECT_FALSE(fs::exists(dir_ / "big.bin"));
  // What was written stays, for a later resume; the earlier download is untouched.
  const std::string kept = read_file(dir_ / "big.bin.tmp");
  EXPECT_GT(kept.size(), 0u);
  EXPECT_LE(kept.size(), std::size_t{1} << 20);
  EXPECT_TRUE(big.compare(0, kept.size(), kept) == 0);
  EXPECT_TRUE(read_file(dir_ / "small.bin") == small);
  EXPECT_EQ(lua_.eval("string.format('%d', select(2, db_row(DB, id)))"), "4");

  // Space is back: the restarted task resumes and finishes byte-identical.
  limit.lift();
  ASSERT_EQ(lua_.run("dm:RestartTask(id)"), "");
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(lua_.eval("table.concat(states, ' ')"), "4 5");
  EXPECT_TRUE(read_file(dir_ / "big.bin") == big) << "byte-identical after the resume";
  ASSERT_FALSE(rec_.starts.empty());
  EXPECT_GT(rec_.starts.back().range_start, 0u) << "resumed from the kept bytes";
  EXPECT_EQ(lua_.eval("string.format('%.0f %d', db_row(DB, id))"),
            std::to_string(big.size()) + " 5");
}

}  // namespace download_net_test
