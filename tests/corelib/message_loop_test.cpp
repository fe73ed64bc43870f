// The loop's contract as the rest of the program relies on it, on both targets.
#include <gtest/gtest.h>

#include "qv/message_loop.h"

#include <thread>
#include <vector>

using namespace qv::loop;

namespace {

constexpr unsigned kPing = kWmUser + 1;
constexpr unsigned kStop = kWmUser + 2;

struct recorder {
  std::vector<std::pair<unsigned, wparam_t>> seen;
  int ticks = 0;
  window_handle other = nullptr;  // destroyed from inside the procedure when set
};

lresult_t record_proc(void* user, window_handle w, unsigned msg, wparam_t wp, lparam_t lp) {
  auto* r = static_cast<recorder*>(user);
  switch (msg) {
    case kPing:
      r->seen.emplace_back(msg, wp);
      return 0;
    case kStop:
      post_quit(static_cast<int>(lp));
      return 0;
    case kWmTimer:
      r->seen.emplace_back(msg, wp);
      if (++r->ticks == 3) {
        kill_timer(w, wp);
        post_message(w, kStop, 0, 7);
      }
      return 0;
  }
  return default_window_proc(w, msg, wp, lp);
}

window_spec hidden(const wchar_t* name) {
  window_spec s;
  s.class_name = name;
  s.title = name;
  return s;
}

}  // namespace

TEST(MessageLoop, PostsFromWorkerThreadsArriveInOrderOnTheLoopThread) {
  recorder r;
  window_handle w = create_window(hidden(L"TivorelTestWndA"), record_proc, &r);
  ASSERT_NE(nullptr, w);
  std::thread worker([w] {
    for (wparam_t i = 0; i < 50; ++i) ASSERT_TRUE(post_message(w, kPing, i, 0));
    post_message(w, kStop, 0, 3);
  });
  EXPECT_EQ(3, run());
  worker.join();
  ASSERT_EQ(50u, r.seen.size());
  for (wparam_t i = 0; i < 50; ++i) EXPECT_EQ(i, r.seen[i].second);
  EXPECT_TRUE(destroy_window(w));
}

TEST(MessageLoop, MessagesForADestroyedWindowAreDropped) {
  recorder alive, dead;
  window_handle a = create_window(hidden(L"TivorelTestWndB"), record_proc, &alive);
  window_handle d = create_window(hidden(L"TivorelTestWndB"), record_proc, &dead);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, d);
  ASSERT_TRUE(post_message(d, kPing, 1, 0));  // queued, then its window goes away
  EXPECT_TRUE(destroy_window(d));
  EXPECT_FALSE(is_window(d));
  EXPECT_FALSE(post_message(d, kPing, 2, 0));
  post_message(a, kPing, 9, 0);
  post_message(a, kStop, 0, 0);
  run();
  EXPECT_TRUE(dead.seen.empty());
  ASSERT_EQ(1u, alive.seen.size());
  EXPECT_EQ(0, send_message(d, kPing, 3, 0));
  destroy_window(a);
}

TEST(MessageLoop, TimerTicksCarryItsIdUntilKilled) {
  recorder r;
  window_handle w = create_window(hidden(L"TivorelTestWndC"), record_proc, &r);
  ASSERT_TRUE(set_timer(w, 0x7000, 10));
  EXPECT_EQ(7, run());
  ASSERT_EQ(3u, r.seen.size());
  for (auto& s : r.seen) {
    EXPECT_EQ(kWmTimer, s.first);
    EXPECT_EQ(0x7000u, s.second);
  }
  EXPECT_FALSE(kill_timer(w, 0x7000));  // killed inside the third tick
  destroy_window(w);
}

TEST(MessageLoop, NoTimerFiresAfterTheWindowIsDestroyed) {
  recorder r, guard;
  window_handle w = create_window(hidden(L"TivorelTestWndD"), record_proc, &r);
  window_handle g = create_window(hidden(L"TivorelTestWndD"), record_proc, &guard);
  ASSERT_TRUE(set_timer(w, 1, 5));
  destroy_window(w);
  // A later timer on another window ends the loop after the first one would have fired often.
  ASSERT_TRUE(set_timer(g, 2, 60));
  run();
  EXPECT_TRUE(r.seen.empty());
  destroy_window(g);
}
