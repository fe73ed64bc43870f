// Locks, events, worker threads and reference-counted singletons.
#include <gtest/gtest.h>

#include "qv/critical_section.h"
#include "qv/event.h"
#include "qv/mutex.h"
#include "qv/singleton_ex.h"
#include "qv/thread.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace qv::win32::multithread;

namespace {

// Two threads each add to a plain counter many times under the lock; a lock that does not
// exclude loses increments.
template <typename Lock>
void expect_exclusion() {
  Lock lock;
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      std::lock_guard<Lock> g(lock);
      std::lock_guard<Lock> again(lock);  // the owner may take it again
      counter = counter + 1;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace

TEST(Locks, MutexAndCriticalSectionExcludeAndAreReentrant) {
  expect_exclusion<mutex>();
  expect_exclusion<critical_section>();
}

TEST(Event, ManualStaysSetAutoIsTakenByOneWait) {
  event manual(true), automatic(false);
  EXPECT_FALSE(manual.wait(0));
  manual.set();
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.wait(0));
  manual.reset();
  EXPECT_FALSE(manual.wait(10));

  automatic.set();
  EXPECT_TRUE(automatic.is_set());  // looking does not consume it
  EXPECT_TRUE(automatic.wait(0));
  EXPECT_FALSE(automatic.wait(0));
}

TEST(Event, WaitAnyReportsWhichEventAndTimesOut) {
  event stop(true), wake(false);
  EXPECT_EQ(event::wait_any({&stop, &wake}, 10), -1);
  std::thread t([&] { wake.set(); });
  EXPECT_EQ(event::wait_any({&stop, &wake}), 1);
  t.join();
  EXPECT_FALSE(wake.is_set());
  stop.set();
  wake.set();
  EXPECT_EQ(event::wait_any({&stop, &wake}, 0), 0);
}

namespace {

class worker : public thread {
 public:
  ~worker() override { stop(); }
  std::atomic<int> runs{0};
  std::atomic<bool> saw_stop{false};

 protected:
  void run() override {
    ++runs;
    // Ends as soon as it is told to.
    saw_stop = wait_for_stop(kInfinite);
  }
};

}  // namespace

TEST(Thread, StopEndsBodyAndAllowsRestart) {
  worker w;
  EXPECT_FALSE(w.stop());  // nothing to stop
  ASSERT_TRUE(w.start());
  EXPECT_NE(w.id(), 0u);
  EXPECT_TRUE(w.start());  // already running: no second body
  EXPECT_TRUE(w.stop());
  EXPECT_EQ(w.runs.load(), 1);
  EXPECT_TRUE(w.saw_stop.load());
  EXPECT_EQ(w.id(), 0u);
  EXPECT_FALSE(w.running());

  w.saw_stop = false;
  ASSERT_TRUE(w.start());  // a fresh, unsignalled stop event
  EXPECT_TRUE(w.stop());
  EXPECT_EQ(w.runs.load(), 2);
  EXPECT_TRUE(w.saw_stop.load());
}

namespace {

struct service {
  static int alive;
  static std::vector<int>* log;
  int id;
  service() : id(++alive) {}
  ~service() {
    --alive;
    if (log) log->push_back(id);
  }
};
int service::alive = 0;
std::vector<int>* service::log = nullptr;

using svc = qv::design_pattern::singleton_ex<service>;

}  // namespace

TEST(SingletonEx, CountsReferencesAndDestroysWithTheLast) {
  std::vector<int> destroyed;
  service::log = &destroyed;
  EXPECT_EQ(svc::instance(), nullptr);
  service* a = svc::acquire();
  service* b = svc::acquire();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(service::alive, 1);

  svc::release();
  EXPECT_EQ(svc::instance(), a);  // two acquires, one release: still alive, count 1
  EXPECT_EQ(svc::ref_count(), 1);
  svc::release();
  EXPECT_EQ(svc::instance(), nullptr);
  EXPECT_EQ(service::alive, 0);
  EXPECT_EQ(destroyed, std::vector<int>{1});

  svc::release();  // one release too many changes nothing
  EXPECT_EQ(svc::ref_count(), 0);
  service* c = svc::acquire();  // a new instance after the last release
  EXPECT_EQ(c->id, 1);
  svc::release();
  service::log = nullptr;
}
