// The POSIX message loop is built on Boost.Asio: work posted from another thread runs on the
// thread that runs the io_context.
#include <gtest/gtest.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <thread>

TEST(MessageLoopSmoke, WorkPostedFromAThreadRunsOnTheLoop) {
  boost::asio::io_context io;
  auto guard = boost::asio::make_work_guard(io);
  std::thread::id ran_on;
  std::thread worker([&] {
    boost::asio::post(io, [&] {
      ran_on = std::this_thread::get_id();
      guard.reset();
    });
  });
  io.run();
  worker.join();
  EXPECT_EQ(std::this_thread::get_id(), ran_on);
}
