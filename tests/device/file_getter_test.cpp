// Fetching files on the UI thread from a scripted agent on a thread of the test.
#include <gtest/gtest.h>

#include "device/file_transfer.h"

#include "loop_helpers.h"
#include "transfer_test_support.h"

#include <chrono>

using namespace device;
using namespace transfer_test;
using device_test::run_until;
using device_test::settle;

namespace {

struct call {
  std::uint32_t id;
  std::int32_t status;
  std::string local;
  std::uint64_t n;
};

std::vector<std::uint8_t> reply_header(std::uint32_t length) {
  return {0, 1, static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

// Serves get requests: each request is recorded and answered by the script, which may wait for
// the host to have seen earlier pieces (so that every piece arrives on its own).
class get_agent {
 public:
  struct request {
    std::uint16_t code;
    std::string path;
    bool has_body;
  };
  using script = std::function<void(std::size_t index, const request& r, tcp::socket& c)>;

  explicit get_agent(script s)
      : script_(std::move(s)), acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this] { serve(); });
  }
  ~get_agent() {
    stopping_ = true;
    asio::io_context io;
    tcp::socket wake(io);
    boost::system::error_code ec;
    wake.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port_), ec);
    thread_.join();
  }
  std::uint16_t port() const { return port_; }
  std::vector<request> requests() const {
    std::lock_guard<std::mutex> g(m_);
    return requests_;
  }

  // For scripts: waits until the test's counter reaches n (or the agent stops).
  void wait_for(const std::atomic<int>& counter, int n) {
    while (counter.load() < n && !stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

 private:
  void serve() {
    while (!stopping_) {
      boost::system::error_code ec;
      tcp::socket c = acceptor_.accept(ec);
      if (ec || stopping_) return;
      for (;;) {
        std::uint8_t h[6];
        asio::read(c, asio::buffer(h), ec);
        if (ec) break;
        request r;
        r.code = static_cast<std::uint16_t>(h[0] | (h[1] << 8));
        const std::uint32_t len = h[2] | (h[3] << 8) | (h[4] << 16) | (static_cast<std::uint32_t>(h[5]) << 24);
        r.has_body = len != 0;
        std::string body(len, '\0');
        if (len) asio::read(c, asio::buffer(&body[0], len), ec);
        if (ec) break;
        if (len >= 4) r.path = body.substr(4);
        std::size_t index;
        {
          std::lock_guard<std::mutex> g(m_);
          requests_.push_back(r);
          index = requests_.size() - 1;
        }
        script_(index, r, c);
        if (!c.is_open()) break;
      }
    }
  }

  script script_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex m_;
  std::vector<request> requests_;
};

void send_bytes(tcp::socket& c, const std::vector<std::uint8_t>& b) {
  boost::system::error_code ec;
  asio::write(c, asio::buffer(b), ec);
}

void send_bytes(tcp::socket& c, const std::string& b) {
  boost::system::error_code ec;
  asio::write(c, asio::buffer(b), ec);
}

struct fixture {
  std::vector<call> calls;
  std::atomic<int> pieces{0};
  file_getter::callback callback() {
    return [this](std::uint32_t id, std::int32_t status, const std::string& local, std::uint64_t n) {
      calls.push_back({id, status, local, n});
      if (status == transfer_status::kProgress) ++pieces;
    };
  }
  bool ended(std::size_t tasks = 1) const {
    std::size_t n = 0;
    for (const auto& c : calls) n += c.status != transfer_status::kProgress;
    return n >= tasks;
  }
};

}  // namespace

TEST(FileGetter, ContentInManyPiecesReportsEachPieceThenTheTotal) {
  const std::string content = pattern(5000);
  fixture f;
  get_agent agent([&](std::size_t, const get_agent::request&, tcp::socket& c) {
    send_bytes(c, reply_header(static_cast<std::uint32_t>(content.size())));
    for (int i = 0; i < 5; ++i) {
      send_bytes(c, content.substr(i * 1000, 1000));
      agent.wait_for(f.pieces, i + 1);
    }
  });
  temp_folder t;
  file_getter g(agent.port());
  g.init();
  const std::string local = t.text("new\\sub\\pic.jpg");
  const std::uint32_t id = g.get(transfer_code::kGetFile, "/sdcard/DCIM/pic.jpg", local, f.callback());
  EXPECT_EQ(1u, id);
  ASSERT_TRUE(run_until([&] { return f.ended(); }));
  ASSERT_EQ(6u, f.calls.size());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(transfer_status::kProgress, f.calls[i].status);
    EXPECT_EQ(1000u, f.calls[i].n);
  }
  EXPECT_EQ(transfer_status::kFinished, f.calls[5].status);
  EXPECT_EQ(5000u, f.calls[5].n);
  EXPECT_EQ(local, f.calls[5].local);
  EXPECT_TRUE(read_file(t.path() / "new" / "sub" / "pic.jpg") == content) << "parent folders are created";
  ASSERT_EQ(1u, agent.requests().size());
  EXPECT_EQ(1, agent.requests()[0].code);
  EXPECT_EQ("/sdcard/DCIM/pic.jpg", agent.requests()[0].path);
  EXPECT_EQ(0u, g.task_count());
}

TEST(FileGetter, AnEmptyReplyMakesAnEmptyFile) {
  fixture f;
  get_agent agent([&](std::size_t, const get_agent::request&, tcp::socket& c) { send_bytes(c, reply_header(0)); });
  temp_folder t;
  write_file(t.path() / "old.txt", "stale contents");
  file_getter g(agent.port());
  g.init();
  g.get(transfer_code::kGetIcon, "com.example", t.text("old.txt"), f.callback());
  ASSERT_TRUE(run_until([&] { return f.ended(); }));
  ASSERT_EQ(2u, f.calls.size());
  EXPECT_EQ(transfer_status::kProgress, f.calls[0].status);
  EXPECT_EQ(0u, f.calls[0].n);
  EXPECT_EQ(transfer_status::kFinished, f.calls[1].status);
  EXPECT_EQ(0u, f.calls[1].n);
  EXPECT_EQ("", read_file(t.path() / "old.txt"));
  EXPECT_EQ(101, agent.requests()[0].code);
}

TEST(FileGetter, QueuedTasksRunOneAfterAnotherWithTheirCodes) {
  fixture f;
  get_agent agent([&](std::size_t i, const get_agent::request&, tcp::socket& c) {
    send_bytes(c, reply_header(2));
    send_bytes(c, std::string(i == 0 ? "aa" : i == 1 ? "bb" : "cc"));
  });
  temp_folder t;
  file_getter g(agent.port());
  g.init();
  g.get(transfer_code::kGetCompressedPicture, "/p1", t.text("1"), f.callback());
  g.get(transfer_code::kGetVideoShot, "/p2", t.text("2"), f.callback());
  g.get(transfer_code::kGetFile, "", t.text("3"), f.callback());
  ASSERT_TRUE(run_until([&] { return f.ended(3); }));
  const auto r = agent.requests();
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ(103, r[0].code);
  EXPECT_EQ(104, r[1].code);
  EXPECT_EQ(1, r[2].code);
  EXPECT_EQ("/p2", r[1].path);
  EXPECT_TRUE(r[2].has_body) << "a queued task's request carries its path string even when empty";
  EXPECT_EQ("aa", read_file(t.path() / "1"));
  EXPECT_EQ("bb", read_file(t.path() / "2"));
  EXPECT_EQ("cc", read_file(t.path() / "3"));
  std::vector<std::uint32_t> ends;
  for (const auto& c : f.calls) {
    if (c.status == transfer_status::kFinished) ends.push_back(c.id);
  }
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 3}), ends);
}

TEST(FileGetter, AReplyCutShortIsAConnectionErrorAndThePartialFileGoes) {
  for (int reset = 0; reset < 2; ++reset) {
    SCOPED_TRACE(reset ? "reset" : "orderly close");
    fixture f;
    get_agent agent([&](std::size_t i, const get_agent::request&, tcp::socket& c) {
      if (i == 0) {
        send_bytes(c, reply_header(100));
        send_bytes(c, std::string(40, 'x'));
        agent.wait_for(f.pieces, 1);
        if (reset) c.set_option(asio::socket_base::linger(true, 0));
        c.close();
      } else {
        send_bytes(c, reply_header(1));
        send_bytes(c, std::string("y"));
      }
    });
    temp_folder t;
    file_getter g(agent.port());
    g.init();
    const std::uint32_t a = g.get(transfer_code::kGetFile, "/a", t.text("a"), f.callback());
    const std::uint32_t b = g.get(transfer_code::kGetFile, "/b", t.text("b"), f.callback());
    ASSERT_TRUE(run_until([&] { return f.ended(); }));
    ASSERT_EQ(2u, f.calls.size());
    EXPECT_EQ(a, f.calls[1].id);
    EXPECT_EQ(transfer_status::kConnectionError, f.calls[1].status);
    EXPECT_EQ(0u, f.calls[1].n);
    EXPECT_FALSE(fs::exists(t.path() / "a"));
    // The next task waits for ContinueNextTask, which runs it (and drops nothing else).
    settle(100);
    EXPECT_EQ(1u, agent.requests().size());
    g.continue_next();
    ASSERT_TRUE(run_until([&] { return f.ended(2); }));
    EXPECT_EQ(b, f.calls.back().id);
    EXPECT_EQ(transfer_status::kFinished, f.calls.back().status);
    EXPECT_EQ("y", read_file(t.path() / "b"));
  }
}

// The agent cuts the first reply in one of three ways. The failed task leaves the queue before its
// callback runs, so the object is idle there: a task queued from that callback is sent at once
// (on a new connection) and runs to its end.
TEST(FileGetter, ATaskQueuedFromAFailedTasksCallbackRuns) {
  enum class cut { close_mid_content, reset_mid_content, close_without_reply };
  const struct {
    const char* what;
    cut how;
  } cases[] = {
      {"closed mid-content", cut::close_mid_content},
      {"reset mid-content", cut::reset_mid_content},
      {"closed without a reply", cut::close_without_reply},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    fixture f;
    get_agent agent([&](std::size_t i, const get_agent::request&, tcp::socket& c) {
      if (i > 0) {
        send_bytes(c, reply_header(2));
        send_bytes(c, std::string("ok"));
        return;
      }
      if (k.how != cut::close_without_reply) {
        send_bytes(c, reply_header(100));
        send_bytes(c, std::string(40, 'x'));
        agent.wait_for(f.pieces, 1);
      }
      if (k.how == cut::reset_mid_content) c.set_option(asio::socket_base::linger(true, 0));
      c.close();
    });
    temp_folder t;
    file_getter g(agent.port());
    g.init();
    std::uint32_t retry = 0;
    std::size_t queued_in_callback = 0;
    const auto record = f.callback();
    const std::uint32_t a = g.get(transfer_code::kGetFile, "/a", t.text("a"),
                                  [&](std::uint32_t id, std::int32_t status, const std::string& local, std::uint64_t n) {
                                    record(id, status, local, n);
                                    if (status != transfer_status::kConnectionError) return;
                                    retry = g.get(transfer_code::kGetFile, "/b", t.text("b"), f.callback());
                                    queued_in_callback = g.task_count();
                                  });
    ASSERT_TRUE(run_until([&] { return f.ended(2); }));
    EXPECT_EQ(a, f.calls.front().id);
    const call& failed = f.calls[f.calls.size() - 3];
    EXPECT_EQ(a, failed.id);
    EXPECT_EQ(transfer_status::kConnectionError, failed.status);
    EXPECT_EQ(1u, queued_in_callback) << "the failed task has left the queue";
    EXPECT_EQ(retry, f.calls.back().id);
    EXPECT_EQ(transfer_status::kFinished, f.calls.back().status);
    EXPECT_EQ("ok", read_file(t.path() / "b"));
    EXPECT_FALSE(fs::exists(t.path() / "a"));
    const auto r = agent.requests();
    ASSERT_EQ(2u, r.size());
    EXPECT_EQ("/b", r[1].path);
    EXPECT_EQ(0u, g.task_count());
  }
}

// ContinueNextTask is for a queue that a failure stopped: a running task is left to finish, and
// the task behind it starts after it.
TEST(FileGetter, ContinueNextTaskLeavesARunningTaskAlone) {
  fixture f;
  std::atomic<int> continued{0};
  get_agent agent([&](std::size_t i, const get_agent::request&, tcp::socket& c) {
    if (i == 0) {
      send_bytes(c, reply_header(4));
      send_bytes(c, std::string("ab"));
      agent.wait_for(continued, 1);
      send_bytes(c, std::string("cd"));
    } else {
      send_bytes(c, reply_header(1));
      send_bytes(c, std::string("z"));
    }
  });
  temp_folder t;
  file_getter g(agent.port());
  g.init();
  const std::uint32_t a = g.get(transfer_code::kGetFile, "/a", t.text("a"), f.callback());
  const std::uint32_t b = g.get(transfer_code::kGetFile, "/b", t.text("b"), f.callback());
  ASSERT_TRUE(run_until([&] { return f.pieces.load() == 1; }));
  g.continue_next();
  ++continued;
  ASSERT_TRUE(run_until([&] { return f.ended(2); }));
  std::vector<std::pair<std::uint32_t, std::int32_t>> ends;
  for (const auto& c : f.calls) {
    if (c.status != transfer_status::kProgress) ends.emplace_back(c.id, c.status);
  }
  EXPECT_EQ((std::vector<std::pair<std::uint32_t, std::int32_t>>{{a, transfer_status::kFinished},
                                                                 {b, transfer_status::kFinished}}),
            ends);
  EXPECT_EQ("abcd", read_file(t.path() / "a"));
  EXPECT_EQ("z", read_file(t.path() / "b"));
}

TEST(FileGetter, ALocalFileThatCannotBeCreatedEndsWith3000) {
  fixture f;
  get_agent agent([&](std::size_t i, const get_agent::request&, tcp::socket& c) {
    send_bytes(c, reply_header(3));
    send_bytes(c, std::string(i == 0 ? "bad" : "ok!"));
  });
  temp_folder t;
  write_file(t.path() / "blocker", "a file where a folder should be");
  file_getter g(agent.port());
  g.init();
  g.get(transfer_code::kGetFile, "/a", t.text("blocker\\a"), f.callback());
  const std::uint32_t b = g.get(transfer_code::kGetFile, "/b", t.text("b"), f.callback());
  ASSERT_TRUE(run_until([&] { return f.ended(2); }));
  EXPECT_EQ(transfer_status::kLocalFile, f.calls[0].status);
  EXPECT_EQ(0u, f.calls[0].n);
  EXPECT_EQ("a file where a folder should be", read_file(t.path() / "blocker"));
  EXPECT_EQ(b, f.calls.back().id);
  EXPECT_EQ(transfer_status::kFinished, f.calls.back().status) << "the next task runs";
}

TEST(FileGetter, CancellingTheRunningTaskEndsItAtOnceAndStartsTheNext) {
  fixture f;
  get_agent agent([&](std::size_t i, const get_agent::request&, tcp::socket& c) {
    if (i == 0) {
      send_bytes(c, reply_header(100));
      send_bytes(c, std::string(10, 'x'));
      // Silent from here on: the host must not wait for the rest.
      boost::system::error_code ec;
      char b;
      c.read_some(asio::buffer(&b, 1), ec);
      c.close();
    } else {
      send_bytes(c, reply_header(2));
      send_bytes(c, std::string("ok"));
    }
  });
  temp_folder t;
  file_getter g(agent.port());
  g.init();
  const std::uint32_t a = g.get(transfer_code::kGetFile, "/a", t.text("a"), f.callback());
  const std::uint32_t b = g.get(transfer_code::kGetFile, "/b", t.text("b"), f.callback());
  const std::uint32_t c = g.get(transfer_code::kGetFile, "/c", t.text("c"), f.callback());
  g.cancel(c);  // queued: released silently
  ASSERT_TRUE(run_until([&] { return f.pieces.load() == 1; }));
  g.cancel(a);
  ASSERT_EQ(2u, f.calls.size());
  EXPECT_EQ(transfer_status::kCancelled, f.calls[1].status);
  EXPECT_EQ(10u, f.calls[1].n);
  EXPECT_FALSE(fs::exists(t.path() / "a"));
  ASSERT_TRUE(run_until([&] { return f.ended(2); }));
  EXPECT_EQ(b, f.calls.back().id);
  EXPECT_EQ(transfer_status::kFinished, f.calls.back().status);
  settle(100);
  EXPECT_EQ(2u, agent.requests().size());
  EXPECT_EQ(0u, g.task_count());
}

TEST(FileGetter, ACallbackMayDestroyTheGetter) {
  fixture f;
  get_agent agent([&](std::size_t, const get_agent::request&, tcp::socket& c) {
    send_bytes(c, reply_header(4));
    send_bytes(c, std::string("data"));
  });
  temp_folder t;
  auto g = std::make_unique<file_getter>(agent.port());
  g->init();
  int calls = 0;
  g->get(transfer_code::kGetFile, "/a", t.text("a"), [&](std::uint32_t, std::int32_t, const std::string&, std::uint64_t) {
    ++calls;
    g.reset();
  });
  ASSERT_TRUE(run_until([&] { return !g; }));
  settle(100);
  EXPECT_EQ(1, calls);
  EXPECT_FALSE(fs::exists(t.path() / "a")) << "an unfinished reply is not kept";
}
