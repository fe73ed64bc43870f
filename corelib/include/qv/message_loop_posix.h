// POSIX-only additions to the message loop, for the OS layers that need to wait on descriptors
// (sockets, netlink) or to run work on the loop. Never include this from portable code.
#pragma once

#include <functional>
#include <memory>

namespace boost::asio {
class io_context;
}

namespace qv::loop::posix {

// The loop's io_context (the loop thread runs it inside qv::loop::run()).
boost::asio::io_context& context();

// Waits for a descriptor it does not own. Each wait is one-shot; the callback runs on the loop
// thread with false when the wait ended with an error or was cancelled. Destroying the watch
// cancels its waits without calling them.
class fd_watch {
 public:
  explicit fd_watch(int fd);
  ~fd_watch();
  fd_watch(const fd_watch&) = delete;
  fd_watch& operator=(const fd_watch&) = delete;

  void wait_readable(std::function<void(bool ok)> cb);
  void wait_writable(std::function<void(bool ok)> cb);
  void cancel();
  int fd() const;

 private:
  struct impl;
  std::shared_ptr<impl> impl_;
};

}  // namespace qv::loop::posix
