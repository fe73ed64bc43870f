// The task table shared by the sender and the copier, driven by a worker whose task ends when the
// test says so and with the status the test picks.
#include <gtest/gtest.h>

#include "device/file_transfer.h"

#include "loop_helpers.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace device;
using device_test::run_until;

namespace {

class gated_worker final : public transfer_worker {
 public:
  ~gated_worker() override {
    open_gate();
    shutdown();
  }
  std::uint32_t queue(transfer_callback cb) { return add_task(transfer_code::kSendCommonFile, "/d/", "f", std::move(cb)); }
  // Bounded only as a hang guard.
  bool wait_running() {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::seconds(20), [&] { return running_; });
  }
  void finish_with(std::int32_t status) {
    std::lock_guard<std::mutex> g(m_);
    status_ = status;
    open_ = true;
    cv_.notify_all();
  }

 private:
  void open_gate() { finish_with(transfer_status::kCancelled); }
  std::int32_t run_job(const job&) override {
    std::unique_lock<std::mutex> g(m_);
    running_ = true;
    cv_.notify_all();
    cv_.wait(g, [&] { return open_; });
    return status_;
  }

  std::mutex m_;
  std::condition_variable cv_;
  bool running_ = false;
  bool open_ = false;
  std::int32_t status_ = 0;
};

}  // namespace

// A task cancelled while it runs is released, without a callback, whatever status its run ends
// with: an error status must not keep it in the table.
TEST(TransferWorker, ACancelledRunningTaskIsReleasedWhateverItsEnd) {
  const std::int32_t ends[] = {transfer_status::kFinished,   transfer_status::kCancelled,
                               transfer_status::kOpenSource, transfer_status::kCreateSocket,
                               transfer_status::kConnect,    transfer_status::kWrite,
                               transfer_status::kLocalFile};
  for (const std::int32_t end : ends) {
    SCOPED_TRACE(end);
    gated_worker w;
    w.init();
    int calls = 0;
    const std::uint32_t id = w.queue([&](const transfer_report&) { ++calls; });
    ASSERT_TRUE(w.wait_running());
    w.cancel(id);
    EXPECT_TRUE(w.has_task(id)) << "held until the worker's end arrives";
    w.finish_with(end);
    ASSERT_TRUE(run_until([&] { return !w.has_task(id); }));
    EXPECT_EQ(0, calls);
    EXPECT_EQ(0u, w.task_count());
  }
}
