// Work items on the pool: order and ids, completions on the UI thread, the folder-deletion and
// archive items' results.
#include <gtest/gtest.h>

#include "loop_deadline.h"

#include "dir_tree_fixture.h"
#include "hostbase/archive_extractor.h"
#include "hostbase/thread_pool.h"
#include "qv/message_loop.h"

#include <string>
#include <thread>
#include <vector>

using namespace hostbase;
using namespace hostbase::test;

namespace {

struct completion_log {
  struct entry {
    std::int32_t id;
    std::int32_t result;
    std::thread::id thread;
  };
  std::vector<entry> done;
  std::size_t expected = 0;
  int discarded = 0;
};

// One completion object per item, as the Lua callbacks are: it ends itself when used.
class recorder {
 public:
  explicit recorder(completion_log* log) : log_(log) {}
  void OnComplete(std::int32_t id, std::int32_t result) {
    log_->done.push_back({id, result, std::this_thread::get_id()});
    if (log_->done.size() == log_->expected) qv::loop::post_quit(0);
    delete this;
  }
  void Discard() {
    ++log_->discarded;
    delete this;
  }

 private:
  completion_log* log_;
};

// Every deadline of this file has its own window class name.
struct deadline : hostbase_test::deadline {
  explicit deadline(unsigned ms) : hostbase_test::deadline(ms, L"TivorelPoolTestDeadline") {}
};

class PoolTest : public ::testing::Test {
 protected:
  void TearDown() override { SetArchiveExtractor(nullptr); }

  WorkItemCompletion completion() { return CompletionOf(new recorder(&log)); }

  // Runs the loop until `count` completions have arrived.
  void run_until(std::size_t count) {
    log.expected = count;
    deadline d(30000);
    if (log.done.size() < count) qv::loop::run();
    ASSERT_FALSE(d.fired) << "only " << log.done.size() << " of " << count << " completions";
  }

  completion_log log;
};

std::vector<std::u16string>& extracted() {
  static std::vector<std::u16string> v;
  return v;
}

// Stands in for the archive extractor: archives whose name starts with "good" open.
bool fake_extract(const std::u16string& archive, const std::u16string& folder) {
  extracted().push_back(archive + u">" + folder);
  return archive.rfind(u"good", 0) == 0;
}

}  // namespace

TEST_F(PoolTest, ItemsCompleteInQueueOrderWithRisingIdsOnTheUiThread) {
  SetArchiveExtractor(&fake_extract);
  extracted().clear();
  scratch s;
  const std::int32_t first = QueueUnzip(u"good.zip", u"dest", completion());
  const std::int32_t second = QueueDeleteDir(scratch::text(s.root() / "missing"), completion());
  // An item without a completion runs and goes silently; it still takes an id.
  const std::int32_t silent = QueueUnzip(u"good2.zip", u"d2", WorkItemCompletion{});
  const std::int32_t third = QueueUnzip(u"bad.zip", u"dest", completion());
  EXPECT_EQ(first + 1, second);
  EXPECT_EQ(second + 1, silent);
  EXPECT_EQ(silent + 1, third);

  run_until(3);
  ASSERT_EQ(3u, log.done.size());
  EXPECT_EQ(first, log.done[0].id);
  EXPECT_EQ(second, log.done[1].id);
  EXPECT_EQ(third, log.done[2].id);
  EXPECT_EQ(kWorkOk, log.done[0].result);
  EXPECT_EQ(kWorkOk, log.done[1].result);
  EXPECT_EQ(kWorkFail, log.done[2].result);
  for (const auto& e : log.done) EXPECT_EQ(std::this_thread::get_id(), e.thread);
  EXPECT_EQ((std::vector<std::u16string>{u"good.zip>dest", u"good2.zip>d2", u"bad.zip>dest"}),
            extracted());
  EXPECT_EQ(0, log.discarded);
}

TEST_F(PoolTest, UnzipWithoutAnExtractorFails) {
  QueueUnzip(u"good.zip", u"dest", completion());
  run_until(1);
  ASSERT_EQ(1u, log.done.size());
  EXPECT_EQ(kWorkFail, log.done[0].result);
}

TEST_F(PoolTest, DeleteDirOnAFileOrAMissingPathCompletesWithSuccessAndDeletesNothing) {
  scratch s;
  const fs::path file = s.file("file.txt");
  QueueDeleteDir(scratch::text(file), completion());
  QueueDeleteDir(scratch::text(s.root() / "missing"), completion());
  QueueDeleteDir(L"", completion());
  run_until(3);
  ASSERT_EQ(3u, log.done.size());
  for (const auto& e : log.done) EXPECT_EQ(kWorkOk, e.result);
  EXPECT_TRUE(fs::exists(file));
}

TEST_F(PoolTest, DeleteDirRemovesATreeWithReadOnlyFiles) {
  scratch s;
  s.file("tree/a/b.txt");
  make_read_only(s.file("tree/ro.txt"));
  QueueDeleteDir(scratch::text(s.root() / "tree"), completion());
  run_until(1);
  ASSERT_EQ(1u, log.done.size());
  EXPECT_EQ(kWorkOk, log.done[0].result);
  EXPECT_FALSE(fs::exists(s.root() / "tree"));
}
