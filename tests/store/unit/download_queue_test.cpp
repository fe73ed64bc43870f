#include "store/download_queue.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "store/sqlite_manager.h"
#include "fake_downloader.h"
#include "qv/path.h"
#include "store_fixture.h"

using namespace store;
using store_test::fake_downloader;

namespace {

// Records every write in a readable form.
class recording_store : public download_task_store {
 public:
  bool add_task(const task_record& t) override {
    std::ostringstream s;
    s << "add " << t.task_id << " type " << t.task_type << " state " << t.task_state;
    log.push_back(s.str());
    added.push_back(t);
    return true;
  }
  bool delete_task(std::int32_t id) override {
    log.push_back("delete " + std::to_string(id));
    return true;
  }
  bool update_task_progress(std::int32_t id, std::int64_t pos, std::int64_t size,
                            std::int32_t state) override {
    std::ostringstream s;
    s << "update " << id << ' ' << pos << ' ' << size << ' ' << state;
    log.push_back(s.str());
    return true;
  }
  std::vector<std::string> log;
  std::vector<task_record> added;
};

struct report {
  std::int32_t id;
  std::int64_t pos, size;
  std::int32_t state;
  bool operator==(const report& o) const {
    return id == o.id && pos == o.pos && size == o.size && state == o.state;
  }
};
std::ostream& operator<<(std::ostream& os, const report& r) {
  return os << '{' << r.id << ' ' << r.pos << ' ' << r.size << ' ' << r.state << '}';
}

class recording_callback : public download_callback {
 public:
  recording_callback(std::vector<report>& sink, int& released)
      : sink_(sink), released_(released) {}
  ~recording_callback() override { ++released_; }
  void call(std::int32_t id, std::int64_t pos, std::int64_t size, std::int32_t state) override {
    sink_.push_back({id, pos, size, state});
    if (on_call) on_call();
  }
  std::function<void()> on_call;

 private:
  std::vector<report>& sink_;
  int& released_;
};

class DownloadQueueTest : public ::testing::Test {
 protected:
  DownloadQueueTest()
      : queue_(&store_, 0,
               [this](file_download_events& ev) {
                 auto d = std::make_unique<fake_downloader>(ev);
                 dl_ = d.get();
                 return d;
               },
               [this] { ++deferred_; }) {}

  std::shared_ptr<recording_callback> callback() {
    return std::make_shared<recording_callback>(reports_, released_);
  }
  std::u16string path(const std::string& name) const { return qv::path::fs_path_utf16(dir_ / name); }
  std::int32_t add(const std::string& name, std::int32_t type = 1,
                   download_callback_ptr cb = nullptr) {
    new_download d;
    d.url = "http://h/" + name;
    d.url_text = u"http://h/";
    d.path = path(name);
    d.task_type = type;
    d.show_name = u"显示";
    d.logo = u"logo";
    d.callback = cb ? cb : callback();
    return queue_.download_file(std::move(d));
  }
  std::string range_of(std::size_t request) const {
    const auto& h = dl_->requests.at(request).headers;
    return h.size() == 1 && h[0].first == "Range" ? h[0].second : "<no single Range header>";
  }

  store_test::scratch_dir dir_;
  recording_store store_;
  fake_downloader* dl_ = nullptr;
  int deferred_ = 0;
  std::vector<report> reports_;
  int released_ = 0;
  download_queue queue_;
};

TEST_F(DownloadQueueTest, TasksRunOneAtATimeInIdOrder) {
  const auto a = add("a");
  const auto b = add("b");
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  ASSERT_EQ(dl_->requests.size(), 1u);
  EXPECT_EQ(dl_->requests[0].id, a);
  EXPECT_EQ(queue_.task(b)->state, kTaskWaiting);
  // Stored tasks re-queued while busy run in id order, not in the order they were added.
  queue_.add_stored_task(9, "http://h/9", 0, 0, path("9"), callback());
  queue_.add_stored_task(3, "http://h/3", 0, 0, path("3"), callback());
  dl_->ready(10);
  ASSERT_EQ(dl_->requests.size(), 2u);
  EXPECT_EQ(dl_->requests[1].id, 2);
  dl_->ready(10);
  EXPECT_EQ(dl_->requests.back().id, 3);
  dl_->ready(10);
  EXPECT_EQ(dl_->requests.back().id, 9);
  EXPECT_EQ(dl_->requests.back().url, "http://h/9");
  EXPECT_EQ(dl_->requests.back().path, path("9"));
}

TEST_F(DownloadQueueTest, RangeCarriesTheWhole64BitPosition) {
  add("busy");
  queue_.add_stored_task(5, "http://h/big", 5'000'000'000LL, 6'000'000'000LL, path("big"),
                         callback());
  queue_.add_stored_task(6, "http://h/mid", 2'147'483'648LL, 0, path("mid"), callback());
  EXPECT_EQ(range_of(0), "bytes=0 -");
  dl_->ready(1);
  EXPECT_EQ(range_of(1), "bytes=5000000000 -");
  dl_->ready(1);
  EXPECT_EQ(range_of(2), "bytes=2147483648 -");
}

TEST_F(DownloadQueueTest, ProgressCounterIsSharedAcrossTasks) {
  const auto a = add("a");
  const auto b = add("b");
  store_.log.clear();
  for (int i = 1; i <= 30; ++i) dl_->progress(100, i, 1000);
  dl_->ready(1000);
  for (int i = 1; i <= 70; ++i) dl_->progress(0, i * 10, 700);
  const std::vector<report> expected{{a, 120, 1000, 1},  // 20th report overall
                                     {a, 1000, 1000, 5},
                                     {b, 100, 700, 1},  // 40th
                                     {b, 300, 700, 1},  // 60th
                                     {b, 500, 700, 1},  // 80th
                                     {b, 700, 700, 1}};  // 100th
  EXPECT_EQ(reports_, expected);
  const std::vector<std::string> writes{"update 1 1000 1000 5", "update 2 200 700 1",
                                        "update 2 700 700 1"};
  EXPECT_EQ(store_.log, writes);
  EXPECT_EQ(queue_.task(b)->pos, 700);
}

TEST_F(DownloadQueueTest, CompletionReportsWritesReleasesAndStartsTheNext) {
  const auto a = add("a");
  add("b");
  store_.log.clear();
  dl_->ready(4096);
  EXPECT_EQ(reports_, (std::vector<report>{{a, 4096, 4096, 5}}));
  EXPECT_EQ(store_.log, (std::vector<std::string>{"update 1 4096 4096 5"}));
  EXPECT_EQ(released_, 1);
  EXPECT_FALSE(queue_.task(a));
  EXPECT_EQ(dl_->requests.size(), 2u) << "the next starts at once";
  EXPECT_EQ(deferred_, 0);
}

TEST_F(DownloadQueueTest, NotModifiedReportsTheExistingFileSize) {
  { std::ofstream(dir_ / "a", std::ios::binary) << std::string(1234, 'z'); }
  const auto a = add("a");
  dl_->ready(0, 1);
  EXPECT_EQ(reports_, (std::vector<report>{{a, 1234, 1234, 5}}));
}

TEST_F(DownloadQueueTest, FailureKeepsTheTaskAndDefersTheNextStart) {
  const auto a = add("a");
  const auto b = add("b");
  dl_->progress(0, 500, 2000);
  store_.log.clear();
  dl_->error(404);
  EXPECT_EQ(reports_, (std::vector<report>{{a, 500, 2000, 4}}));
  EXPECT_EQ(store_.log, (std::vector<std::string>{"update 1 500 2000 4"}));
  EXPECT_EQ(queue_.task(a)->state, kTaskFailed);
  EXPECT_EQ(released_, 0);
  EXPECT_EQ(dl_->requests.size(), 1u) << "nothing starts inside the failure event";
  EXPECT_EQ(deferred_, 1);
  queue_.run_deferred();
  ASSERT_EQ(dl_->requests.size(), 2u);
  EXPECT_EQ(dl_->requests[1].id, b);
  // A failed task resumes from where it stopped once restarted.
  queue_.restart_task(a);
  EXPECT_EQ(queue_.task(a)->state, kTaskWaiting);
  dl_->ready(9);
  ASSERT_EQ(dl_->requests.size(), 3u);
  EXPECT_EQ(dl_->requests[2].id, a);
  EXPECT_EQ(range_of(2), "bytes=500 -");
}

TEST_F(DownloadQueueTest, StopClosesTheRunningTaskSilentlyAndStartsTheNext) {
  const auto a = add("a");
  const auto b = add("b");
  const auto c = add("c");
  queue_.stop_task(c);  // waiting: never picked
  EXPECT_EQ(dl_->closes, 0);
  dl_->progress(0, 10, 100);
  store_.log.clear();
  queue_.stop_task(a);
  EXPECT_EQ(dl_->closes, 1);
  EXPECT_TRUE(reports_.empty());
  EXPECT_TRUE(store_.log.empty());
  EXPECT_EQ(queue_.task(a)->state, kTaskStopped);
  EXPECT_EQ(queue_.task(a)->pos, 10);
  ASSERT_EQ(dl_->requests.size(), 2u);
  EXPECT_EQ(dl_->requests[1].id, b);
  dl_->ready(1);
  EXPECT_EQ(dl_->requests.size(), 2u) << "stopped tasks wait for a restart";
  queue_.restart_task(c);
  EXPECT_EQ(dl_->requests.back().id, c);
  queue_.stop_task(12345);  // unknown: nothing happens
  EXPECT_EQ(dl_->closes, 1);
}

TEST_F(DownloadQueueTest, CancelRemovesTheTaskAndDeletesTheRowUnlessKept) {
  const auto a = add("a");
  const auto b = add("b");
  const auto c = add("c");
  store_.log.clear();
  queue_.cancel_task(a, false);
  EXPECT_EQ(dl_->closes, 1);
  EXPECT_FALSE(queue_.task(a));
  EXPECT_EQ(released_, 1);
  EXPECT_EQ(dl_->requests.back().id, b);
  queue_.cancel_task(c, true);
  EXPECT_FALSE(queue_.task(c));
  EXPECT_EQ(dl_->closes, 1) << "c was not running";
  queue_.cancel_task(77, false);  // a stored task that was never queued again
  EXPECT_EQ(store_.log, (std::vector<std::string>{"delete 1", "delete 77"}));
  EXPECT_TRUE(reports_.empty());
}

TEST_F(DownloadQueueTest, VolatileTaskTypeNeverTouchesTheDatabase) {
  const auto a = add("a", kVolatileTaskType);
  for (int i = 1; i <= 100; ++i) dl_->progress(0, i, 100);
  dl_->error(500);
  queue_.restart_task(a);
  dl_->ready(100);
  const auto b = add("b", kVolatileTaskType);
  queue_.cancel_task(b, false);
  EXPECT_TRUE(store_.log.empty()) << store_.log.front();
  EXPECT_FALSE(reports_.empty());
}

TEST_F(DownloadQueueTest, NewTaskRowHoldsWhatWasGiven) {
  const auto a = add("a", 2);
  ASSERT_EQ(store_.added.size(), 1u);
  const task_record& r = store_.added[0];
  EXPECT_EQ(r.task_id, a);
  EXPECT_EQ(r.task_type, 2);
  EXPECT_EQ(r.task_state, 0);
  EXPECT_EQ(r.task_priority, 0);
  EXPECT_EQ(r.file_pos, 0);
  EXPECT_EQ(r.file_size, 0);
  EXPECT_EQ(r.file_path, path("a"));
  EXPECT_EQ(r.spend_time, 0);
  EXPECT_EQ(r.show_name, u"显示");
  EXPECT_EQ(r.download_url, u"http://h/");
  EXPECT_EQ(r.logo_url, u"logo");
  EXPECT_TRUE(r.gid.empty());
  // Stored tasks queued again write nothing.
  queue_.add_stored_task(40, "http://h/x", 1, 2, path("x"), nullptr);
  EXPECT_EQ(store_.log.size(), 1u);
}

TEST_F(DownloadQueueTest, MissingParentFoldersExistBeforeTheDownloadStarts) {
  new_download d;
  d.url = "http://h/deep";
  d.path = path("x") + u"\\y/z\\file.apk";
  queue_.download_file(d);
  add("busy");
  queue_.add_stored_task(50, "http://h/s", 0, 0, path("s") + u"/t\\u.apk", nullptr);
  dl_->ready(1);
  dl_->ready(1);
  ASSERT_EQ(dl_->requests.size(), 3u);
  for (const auto& r : dl_->requests) EXPECT_TRUE(r.parent_existed) << r.id;
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "x" / "y" / "z"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "s" / "t"));
}

TEST_F(DownloadQueueTest, RefusedRequestFailsLaterAndDoesNotBlockTheQueue) {
  new_download bad;
  bad.path = path("bad");  // no URL: the downloader refuses it
  bad.callback = callback();
  const auto id = queue_.download_file(bad);
  const auto good = add("good");
  EXPECT_TRUE(reports_.empty()) << "no callback inside the call that queued the task";
  EXPECT_EQ(queue_.task(id)->state, kTaskFailed);
  ASSERT_EQ(dl_->requests.size(), 1u);
  EXPECT_EQ(dl_->requests[0].id, good);
  store_.log.clear();
  queue_.run_deferred();
  EXPECT_EQ(reports_, (std::vector<report>{{id, 0, 0, 4}}));
  EXPECT_EQ(store_.log, (std::vector<std::string>{"update 1 0 0 4"}));
}

TEST_F(DownloadQueueTest, CallbacksMayChangeTheQueue) {
  // A task cancelled from its own progress report.
  auto self_cancel = callback();
  const auto a = add("a", 1, self_cancel);
  self_cancel->on_call = [&] { queue_.cancel_task(a, false); };
  self_cancel.reset();
  const auto b = add("b");
  for (int i = 1; i <= 20; ++i) dl_->progress(0, i, 100);
  EXPECT_FALSE(queue_.task(a));
  EXPECT_EQ(released_, 1);
  EXPECT_EQ(dl_->requests.back().id, b);

  // A task restarted from its own failure report runs again and stays running.
  auto retry = callback();
  int tries = 0;
  retry->on_call = [&] {
    if (++tries == 1) queue_.restart_task(b);
  };
  queue_.add_stored_task(b, "http://h/b", 0, 0, path("b"), retry);
  dl_->error(503);
  EXPECT_EQ(queue_.task(b)->state, kTaskDownloading);
  EXPECT_TRUE(dl_->is_requesting());
  EXPECT_EQ(dl_->requests.back().id, b);
}

TEST_F(DownloadQueueTest, EventsForUnknownTasksAreHarmless) {
  queue_.on_file_progress(99, 0, 1, 2);
  EXPECT_EQ(queue_.progress_reports(), 0u);
  queue_.on_file_error(99, "u", 1);
  EXPECT_EQ(deferred_, 1);
  queue_.add_stored_task(1, "http://h/1", 0, 0, path("1"), nullptr);
  queue_.stop_task(1);
  queue_.on_file_ready(99, "u", 5, path("1"), 0);
  EXPECT_TRUE(store_.log.empty());
  EXPECT_TRUE(reports_.empty());
}

TEST_F(DownloadQueueTest, IdsContinueFromTheDatabaseAndCanBeReserved) {
  download_queue q(
      &store_, 10, [](file_download_events& ev) { return std::make_unique<fake_downloader>(ev); },
      nullptr);
  EXPECT_EQ(q.next_task_id(), 11);
  new_download d;
  d.url = "http://h/a";
  d.path = path("a");
  EXPECT_EQ(q.download_file(d), 12);
}

// The queue over the real database: rows as another reader sees them.
TEST(DownloadQueueDatabaseTest, ProgressAndOutcomeReachTheFile) {
  store_test::scratch_dir dir;
  const auto file = qv::path::fs_path_utf16(dir / "Download.db");
  CSqliteManager db;
  ASSERT_TRUE(db.open(file));
  fake_downloader* dl = nullptr;
  download_queue q(&db, db.next_task_id(),
                   [&](file_download_events& ev) {
                     auto d = std::make_unique<fake_downloader>(ev);
                     dl = d.get();
                     return d;
                   },
                   [] {});
  new_download d;
  d.url = "http://h/a";
  d.url_text = u"http://h/a";
  d.path = qv::path::fs_path_utf16(dir / "a.apk");
  d.task_type = 3;
  d.show_name = u"应用";
  const auto a = q.download_file(d);
  d.path = qv::path::fs_path_utf16(dir / "b.apk");
  const auto b = q.download_file(d);
  for (int i = 1; i <= 50; ++i) dl->progress(3'000'000'000ULL, i, 5'000'000'000ULL);
  dl->ready(5'000'000'000ULL);
  dl->error(404);
  q.cancel_task(b, true);

  CSqliteManager check;
  ASSERT_TRUE(check.open(file));
  ASSERT_EQ(check.loaded_tasks().size(), 2u);
  const task_record& ra = check.loaded_tasks()[0];
  EXPECT_EQ(ra.task_id, a);
  EXPECT_EQ(ra.file_pos, 5'000'000'000LL);
  EXPECT_EQ(ra.task_state, kTaskFinished);
  EXPECT_EQ(ra.show_name, u"应用");
  EXPECT_EQ(ra.task_type, 3);
  const task_record& rb = check.loaded_tasks()[1];
  EXPECT_EQ(rb.task_id, b);
  EXPECT_EQ(rb.task_state, kTaskFailed);
  EXPECT_EQ(check.next_task_id(), b + 1);
}

}  // namespace
