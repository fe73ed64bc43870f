// File transfer with the device's agent and local folder copies.
//
// file_sender pushes local files or folders to the agent on a worker thread with blocking
// sockets, one connection per file. dir_copier copies local files or folders on a worker thread.
// Both keep a task table shared with the UI thread and bring every report back to the UI thread
// through the process's message window (hostbase::CMessageWindow, message 0x401), where the
// task's callback is called. file_getter fetches files from the agent on the UI thread over one
// window-message driven socket.
//
// Callbacks run on the UI thread only and may cancel tasks, uninitialise or destroy their
// object while they are being called.
#pragma once

#include "qv/asyn_tcp_socket.h"
#include "qv/event.h"
#include "qv/thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace device {

namespace transfer_status {
constexpr std::int32_t kProgress = 1;
constexpr std::int32_t kCancelled = 3;
constexpr std::int32_t kFinished = 5;
constexpr std::int32_t kConnectionError = 6;  // get only
constexpr std::int32_t kOpenSource = 1000;    // send: a local source file cannot be read
constexpr std::int32_t kCreateSocket = 1001;
constexpr std::int32_t kConnect = 1002;
constexpr std::int32_t kWrite = 1003;         // send: the connection failed before the agent's answer
constexpr std::int32_t kLocalFile = 3000;     // get and copy: a local file cannot be made or copied
}  // namespace transfer_status

// Frame codes of the transfer tasks.
namespace transfer_code {
constexpr std::uint16_t kSendCommonFile = 3;
constexpr std::uint16_t kSendApp = 20;
constexpr std::uint16_t kSendVideo = 105;
constexpr std::uint16_t kSendPhoto = 106;
constexpr std::uint16_t kSendMusic = 107;
constexpr std::uint16_t kGetFile = 1;
constexpr std::uint16_t kGetIcon = 101;
constexpr std::uint16_t kGetCompressedPicture = 103;
constexpr std::uint16_t kGetVideoShot = 104;
}  // namespace transfer_code

constexpr std::size_t kSendChunk = 512000;
constexpr std::size_t kCopyChunk = 2097152;

// One report of a worker task: the state of its progress record when the report is handled.
struct transfer_report {
  std::uint32_t id = 0;
  std::wstring current_file;  // the local file being sent or copied
  std::int32_t status = 0;
  std::uint64_t done = 0;     // bytes sent or copied over all files of the task
  std::uint64_t total = 0;    // sum of the sizes of all files of the task
};
using transfer_callback = std::function<void(const transfer_report&)>;

// The task table and worker thread shared by the sender and the copier.
class transfer_worker : protected qv::win32::multithread::thread {
 public:
  transfer_worker(const transfer_worker&) = delete;
  transfer_worker& operator=(const transfer_worker&) = delete;

  // Once per object: starts the worker. Tasks queued before wait for it.
  void init();
  // Releases a task not yet started (or one that ended with an error) without a callback; a
  // running task is cancelled and released without a callback when the worker's end arrives.
  // Unknown ids are ignored.
  void cancel(std::uint32_t id);
  // Cancels the running task and releases every task.
  void cancel_all();
  // Cancels and drops everything and stops the worker; returns once it has ended.
  void uninit();

  bool has_task(std::uint32_t id) const;
  std::size_t task_count() const;
  bool initialized() const { return initialized_; }

  // UI thread, from the message window: a report of a task as it was when the worker posted
  // it (one per chunk); final marks the worker's last report, sent once it has left the task.
  void deliver(const transfer_report& report, bool final);

 protected:
  transfer_worker();
  ~transfer_worker() override;

  struct progress {
    std::mutex lock;
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    std::int32_t status = 0;
    std::wstring current_file;
  };
  // What the worker reads of a running task: copies, so that Lua may drop the task meanwhile.
  struct job {
    std::uint32_t id = 0;
    std::uint16_t type = 0;
    std::wstring dir;
    std::wstring source;
    std::shared_ptr<progress> record;
  };

  std::uint32_t add_task(std::uint16_t type, std::string dir, std::string source, transfer_callback callback);

  // Worker: runs one task to its end and returns the final status. Sets the record's fields
  // and calls post_progress after each chunk.
  virtual std::int32_t run_job(const job& j) = 0;
  // Under the task lock, UI thread: ends the blocking call of the running task, if any.
  virtual void abort_running() {}

  bool cancel_requested() const { return cancel_requested_.load(); }
  // Posts the record's present state as a report of the task.
  void post_progress(const job& j, bool final = false);
  // The files of a task: one, or every file below a folder (relative paths joined with "\").
  // False when the folder cannot be listed.
  static bool collect(const std::wstring& source, bool& folder_mode, std::vector<std::wstring>& files,
                      std::uint64_t& total);
  // Collects the task's files and starts its record at 0 of their total size.
  static bool start_job(const job& j, bool& folder_mode, std::vector<std::wstring>& files);
  // The local path of one of the collected files.
  static std::wstring local_file(const std::wstring& source, bool folder_mode, const std::wstring& file);

  // Call from the derived class's destructor: the worker must not outlive run_job's object.
  void shutdown();

 private:
  struct task {
    bool started = false;
    bool cancelled = false;  // while it ran: released at its end, whatever its status
    std::uint16_t type = 0;
    std::string dir;
    std::string source;
    transfer_callback callback;
    std::shared_ptr<progress> record;
  };

  void run() override;
  void request_cancel_locked(std::uint32_t id);

  mutable std::mutex lock_;
  std::map<std::uint32_t, task> tasks_;
  std::uint32_t last_task_id_ = 0;
  std::uint32_t running_id_ = 0;
  std::atomic<bool> cancel_requested_{false};
  std::unique_ptr<qv::win32::multithread::event> wake_;
  std::unique_ptr<qv::win32::multithread::event> exited_;
  bool initialized_ = false;
  std::uint64_t serial_;
};

// "SendFile.Manager.Class": sends to the agent at 127.0.0.1:port.
class file_sender final : public transfer_worker {
 public:
  explicit file_sender(std::uint16_t port);
  ~file_sender() override;

  // A send task with the frame code; code 3 makes sure device_dir ends with "/".
  std::uint32_t send(std::uint16_t code, std::string device_dir, std::string local_path, transfer_callback callback);
  // Whether a connection to the agent's port can be made now (blocking, loopback only).
  bool test_connect() const;
  std::uint16_t port() const { return port_; }

  // The device path of one file of a task.
  static std::string device_path(const std::wstring& device_dir, const std::wstring& source, bool folder_mode,
                                 const std::wstring& file);

 private:
  std::int32_t run_job(const job& j) override;
  void abort_running() override;
  std::int32_t send_one(const job& j, const std::wstring& local, const std::string& device_path, std::uint64_t size,
                        progress& record);

  std::uint16_t port_;
  std::mutex socket_lock_;
  std::intptr_t current_socket_;
  std::unique_ptr<char[]> buffer_;
};

// "DirCopy.Manager.Class".
class dir_copier final : public transfer_worker {
 public:
  dir_copier();
  ~dir_copier() override;

  // Copies source_path (a file or a folder) into target_dir; a missing final "\" is added.
  std::uint32_t copy(std::string target_dir, std::string source_path, transfer_callback callback);

  static std::wstring target_path(const std::wstring& target_dir, const std::wstring& source, bool folder_mode,
                                  const std::wstring& file);

 private:
  std::int32_t run_job(const job& j) override;
  std::unique_ptr<char[]> buffer_;
};

// Lower case as the transfer paths use it: ASCII, Latin-1, Greek and Cyrillic capitals.
std::wstring transfer_lower(std::wstring text);

// "GetFile.Manager.Class": one request at a time on one connection to 127.0.0.1:port.
class file_getter : public qv::win32::net::asyn_tcp_socket_event {
 public:
  // (id, status, local_path as given, n): n is the piece written for status 1, the bytes
  // received for 3, 5 and 3000, and 0 for 6.
  using callback = std::function<void(std::uint32_t id, std::int32_t status, const std::string& local_path,
                                      std::uint64_t n)>;

  explicit file_getter(std::uint16_t port);
  ~file_getter() override;
  file_getter(const file_getter&) = delete;
  file_getter& operator=(const file_getter&) = delete;

  // Once: makes and binds the socket (no connection yet).
  void init();
  // Queues a get task and starts it when nothing runs; returns its id (1, 2, ...).
  std::uint32_t get(std::uint16_t code, std::string device_path, std::string local_path, callback cb);
  // A running task ends at once: its connection is closed, its partial file deleted, and its
  // callback gets status 3; the next task starts. A queued task is released silently.
  void cancel(std::uint32_t id);
  void cancel_all();
  // After a failed task: starts the next one. A running task is left to finish.
  void continue_next();
  void uninit();

  std::size_t task_count() const { return queue_.size(); }
  bool busy() const { return busy_; }

  void on_connected(std::uint32_t, std::uint16_t, std::uint32_t, std::uint16_t) override {}
  void on_sent(std::uint32_t) override {}
  void on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) override;
  void on_error(std::int32_t code) override;
  void on_closed() override;

 private:
  struct get_task {
    int state = 0;  // 0 queued, 1 running, 3 cancelled
    bool started = false;
    std::uint16_t code = 0;
    std::string device_path;
    std::string local_path;
    std::uint32_t id = 0;
    callback cb;
  };

  void start(get_task& t, bool with_empty_path);
  void next_task();
  void reset_reply();
  // Ends the head task with status (3 or 5, or 6 after a failure), removes it, calls its
  // callback and then starts the next one unless the status is 6 or the callback started one.
  // False when this object was destroyed from inside the callback.
  bool finish_head(std::int32_t status);
  void fail_head();

  bool initialized_ = false;
  std::unique_ptr<qv::win32::net::asyn_tcp_socket> socket_;
  std::list<get_task> queue_;
  std::uint32_t last_task_id_ = 0;
  bool header_expected_ = true;
  std::uint32_t remaining_ = 0;
  std::unique_ptr<class get_file_handle> file_;
  std::wstring file_path_;
  bool busy_ = false;
  std::uint64_t received_ = 0;
  std::uint16_t port_;
  std::vector<std::uint8_t> request_;
  std::shared_ptr<bool> alive_;
};

}  // namespace device
