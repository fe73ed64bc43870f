// The store killed with SIGKILL at many points chosen by the test, while it records downloads
// and edits app bundles: afterwards the database passes its integrity check, opens, and holds
// every write that had returned before the kill. And the store on a full disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include "file_size_limit_posix.h"
#include "kill_points_posix.h"
#include "store/sqlite_manager.h"
#include "store_fixture.h"

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>

namespace {

std::u16string U(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string integrity_of(const std::filesystem::path& db) {
  sqlite3* h = nullptr;
  std::string out;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        h, "pragma integrity_check",
        [](void* p, int, char** v, char**) {
          *static_cast<std::string*>(p) += v[0] ? v[0] : "";
          return 0;
        },
        &out, nullptr);
  } else {
    out = "cannot open";
  }
  sqlite3_close(h);
  return out;
}

// Step n: task n is added, then its progress written three times; bundle "b<n>" is created and
// gets two items, the first of which is then selected.
constexpr int kSubsteps = 6;
std::int64_t PosOf(int n, int k) { return std::int64_t{n} * 1000000 + k * 4096; }

taocan_media_record ItemOf(int n, int i) {
  taocan_media_record m;
  m.media_path = U("C:\\apps\\" + std::to_string(n) + "_" + std::to_string(i) + ".apk");
  m.media_type = 1;
  m.taocan = U("b" + std::to_string(n));
  m.media_packname = U("com.example.a" + std::to_string(i));
  m.media_showname = U("App " + std::to_string(i));
  return m;
}

void RunSteps(const std::u16string& path, int first, int count, const std::function<void()>& done) {
  CSqliteManager db;
  if (!db.open(path)) ::_exit(3);
  for (int n = first; n < first + count; ++n) {
    task_record t;
    t.task_id = n;
    t.task_type = 1;
    t.file_path = U("/downloads/" + std::to_string(n) + ".apk");
    t.download_url = U("http://h/" + std::to_string(n));
    t.show_name = U("task " + std::to_string(n));
    if (!db.add_task(t)) ::_exit(4);
    done();
    for (int k = 1; k <= 3; ++k) {
      if (!db.update_task_progress(n, PosOf(n, k), PosOf(n, 4), 1)) ::_exit(5);
      done();
    }
    const std::u16string bundle = U("b" + std::to_string(n));
    if (!db.create_taocan(bundle, 2)) ::_exit(6);
    if (!db.add_taocan_item(ItemOf(n, 0)) || !db.add_taocan_item(ItemOf(n, 1))) ::_exit(7);
    done();
    taocan_media_record sel = ItemOf(n, 0);
    sel.media_select = 1;
    if (!db.update_taocan_item_select(sel)) ::_exit(8);
    done();
  }
}

}  // namespace

TEST(StoreKill, EveryReturnedWriteSurvivesKillsAtManyPoints) {
  store_test::scratch_dir dir;
  const auto file = dir / "Download.db";
  std::mt19937 rng(std::random_device{}());
  const unsigned seed = rng();
  rng.seed(seed);
  SCOPED_TRACE("kill seed " + std::to_string(seed));

  int kills = 0, committed_total = 0;
  int first = 0;
  std::map<int, int> done_substeps;  // step -> substeps that returned
  for (int round = 0; round < 25 && !::testing::Test::HasFailure(); ++round) {
    constexpr int kSteps = 4;
    const auto r = tiv_test_kill::RunAndKill(
        [&](const std::function<void()>& done) { RunSteps(file.u16string(), first, kSteps, done); },
        static_cast<int>(rng() % (kSteps * kSubsteps)), rng() % 2000000);
    ASSERT_LE(r.exit_code, 0) << "a write failed in the child";
    if (!r.finished) ++kills;
    committed_total += r.committed;
    for (int c = 0; c < r.committed; ++c) ++done_substeps[first + c / kSubsteps];

    // A kill before the child's store had created its file leaves nothing to check; after a
    // returned write the file must be there.
    if (!std::filesystem::exists(file)) {
      ASSERT_EQ(committed_total, 0) << "writes returned, but the database file is gone";
      first += kSteps;
      continue;
    }
    ASSERT_EQ(integrity_of(file), "ok");
    CSqliteManager db;
    ASSERT_TRUE(db.open(file.u16string()));
    std::map<int, task_record> tasks;
    for (const auto& t : db.loaded_tasks()) tasks[t.task_id] = t;
    for (const auto& [n, subs] : done_substeps) {
      SCOPED_TRACE("step " + std::to_string(n) + ", substeps returned " + std::to_string(subs));
      ASSERT_TRUE(tasks.count(n));
      // The last returned progress write, or one that followed it before the kill.
      const int k = std::min(subs - 1, 3);
      if (k >= 1) {
        EXPECT_GE(tasks[n].file_pos, PosOf(n, k));
      }
      if (subs >= 5) {
        const auto items = db.get_taocan_items(U("b" + std::to_string(n)));
        EXPECT_EQ(items.size(), 2u);
      }
      if (subs >= 6) {
        bool selected = false;
        for (const auto& m : db.get_taocan_items(U("b" + std::to_string(n))))
          if (m.media_path == ItemOf(n, 0).media_path) selected = m.media_select == 1;
        EXPECT_TRUE(selected);
      }
    }
    db.close();
    first += kSteps;
  }
  EXPECT_GT(kills, 0);
  std::cout << kills << " kills, " << committed_total << " writes returned before them" << std::endl;
}

namespace {

using tiv_test_disk::file_size_limit;

}  // namespace

TEST(StoreFullDisk, WritesFailKeepEarlierDataAndWorkAgain) {
  store_test::scratch_dir dir;
  const auto file = dir / "Download.db";
  CSqliteManager db;
  ASSERT_TRUE(db.open(file.u16string()));
  RunSteps(file.u16string(), 0, 3, [] {});
  int failed_at = -1;
  {
    file_size_limit limit(256 * 1024);
    ASSERT_TRUE(limit.ok());
    // Bundles with many items until the disk is full.
    for (int n = 100; n < 2000 && failed_at < 0; ++n) {
      const std::u16string bundle = U("full" + std::to_string(n));
      if (!db.create_taocan(bundle, 1)) {
        failed_at = n;
        break;
      }
      for (int i = 0; i < 20; ++i) {
        taocan_media_record m = ItemOf(n, i);
        m.taocan = bundle;
        m.media_showname = U(std::string(200, 'x'));
        if (!db.add_taocan_item(m)) {
          failed_at = n;
          break;
        }
      }
    }
  }
  ASSERT_GE(failed_at, 0) << "the limit was never reached";
  ASSERT_EQ(integrity_of(file), "ok");
  // Space is back: the same connection writes again, and everything from before is there.
  task_record t;
  t.task_id = 500;
  EXPECT_TRUE(db.add_task(t));
  EXPECT_TRUE(db.create_taocan(U("after"), 1));
  db.close();
  ASSERT_EQ(integrity_of(file), "ok");
  CSqliteManager again;
  ASSERT_TRUE(again.open(file.u16string()));
  std::map<int, task_record> tasks;
  for (const auto& x : again.loaded_tasks()) tasks[x.task_id] = x;
  for (int n = 0; n < 3; ++n) {
    ASSERT_TRUE(tasks.count(n));
    EXPECT_EQ(tasks[n].file_pos, PosOf(n, 3));
    EXPECT_EQ(again.get_taocan_items(U("b" + std::to_string(n))).size(), 2u);
  }
  EXPECT_TRUE(tasks.count(500));
  EXPECT_TRUE(again.taocan_exists(U("after")));
}
