// The download queue: tasks keyed by id, one download at a time, resumed with a "Range"
// header, progress and outcome reported to each task's callback and recorded in the task
// store. It knows nothing of Lua: the Lua object "DownloadManger.Manager" wraps it. UI thread
// only; every event it receives comes from its own downloader on that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class download_task_store;

namespace store {

using header_list = std::vector<std::pair<std::string, std::string>>;

// What a file downloader reports. A downloader ends a request with exactly one of ready or
// error, after it is idle again, so a receiver may start the next request from inside.
class file_download_events {
 public:
  virtual ~file_download_events() = default;
  // code 0: downloaded, 1: not modified, 2: failed but an earlier file stands.
  virtual void on_file_ready(std::int32_t request_id, const std::string& url, std::uint64_t size,
                             const std::u16string& path, int code) = 0;
  virtual void on_file_error(std::int32_t request_id, const std::string& url,
                             std::int32_t code) = 0;
  virtual void on_file_progress(std::int32_t request_id, std::uint64_t range_start,
                                std::uint64_t received, std::uint64_t total_size) = 0;
};

// Downloads one URL into one file at a time (the HTTP file downloader, or a fake in tests).
class file_downloader {
 public:
  virtual ~file_downloader() = default;
  // False when refused (empty url or path, a download already active, a URL it cannot use).
  virtual bool request_file(std::int32_t request_id, const std::string& url,
                            const header_list& extra_headers, const std::u16string& path) = 0;
  virtual bool is_requesting() const = 0;
  // Abandons the active download without any event.
  virtual void close() = 0;
};

// Receives one task's reports; destroying it releases whatever it holds (a Lua reference).
class download_callback {
 public:
  virtual ~download_callback() = default;
  virtual void call(std::int32_t task_id, std::int64_t pos, std::int64_t size,
                    std::int32_t state) = 0;
};
using download_callback_ptr = std::shared_ptr<download_callback>;

enum download_state : std::int32_t {
  kTaskWaiting = 0,
  kTaskDownloading = 1,
  kTaskStopped = 3,
  kTaskFailed = 4,
  kTaskFinished = 5,
};

// Tasks of this type are never written to the database.
constexpr std::int32_t kVolatileTaskType = 7;

struct new_download {
  std::string url;           // as sent on the wire
  std::u16string url_text;   // as recorded in the database
  std::u16string path;
  std::int32_t task_type = 0;
  std::u16string show_name;
  std::u16string logo;
  download_callback_ptr callback;
};

struct download_task_view {
  std::int32_t state = 0;
  std::int64_t pos = 0;
  std::int64_t size = 0;
  std::u16string path;
  std::string url;
};

class download_queue : public file_download_events {
 public:
  using downloader_factory = std::function<std::unique_ptr<file_downloader>(file_download_events&)>;

  // store may be null (nothing is recorded). first_task_id is the database's next id; new ids
  // are made by incrementing it first. defer_start_next must arrange for run_deferred() to be
  // called later on this thread, after the current event has unwound.
  download_queue(download_task_store* store, std::int32_t first_task_id,
                 const downloader_factory& make_downloader,
                 std::function<void()> defer_start_next);
  ~download_queue() override;
  download_queue(const download_queue&) = delete;
  download_queue& operator=(const download_queue&) = delete;

  // Queues a new task and records it (unless its type is the volatile one); returns its id.
  std::int32_t download_file(new_download request);
  // Queues a stored task again under its own id, replacing any entry; records nothing.
  std::int32_t add_stored_task(std::int32_t task_id, std::string url, std::int64_t file_pos,
                               std::int64_t file_size, std::u16string path,
                               download_callback_ptr callback);
  void update_stored_task(std::int32_t task_id, std::int64_t file_pos, std::int64_t file_size,
                          std::int32_t task_state);
  // Reserves an id.
  std::int32_t next_task_id();
  void restart_task(std::int32_t task_id);
  void stop_task(std::int32_t task_id);
  void cancel_task(std::int32_t task_id, bool keep_record);

  // Starts the next waiting task when nothing is downloading.
  void start_next();
  // The deferred work: reports tasks whose request was refused, then starts the next task.
  void run_deferred();

  std::optional<download_task_view> task(std::int32_t task_id) const;
  std::optional<std::int32_t> active_task() const { return active_; }
  std::uint64_t progress_reports() const { return progress_reports_; }

  // The "Range" value that resumes a download at pos.
  static std::string range_value(std::int64_t pos);

  void on_file_ready(std::int32_t request_id, const std::string& url, std::uint64_t size,
                     const std::u16string& path, int code) override;
  void on_file_error(std::int32_t request_id, const std::string& url,
                     std::int32_t code) override;
  void on_file_progress(std::int32_t request_id, std::uint64_t range_start,
                        std::uint64_t received, std::uint64_t total_size) override;

 private:
  struct task_entry {
    std::int32_t state = kTaskWaiting;
    download_callback_ptr callback;
    std::u16string path;
    std::string url;
    std::int64_t size = 0;
    std::int64_t pos = 0;
    bool recorded = true;  // false for the volatile task type
  };

  void record_progress(std::int32_t id, const task_entry& t, std::int64_t pos,
                       std::int64_t size, std::int32_t state);
  static void report(download_callback_ptr cb, std::int32_t id, std::int64_t pos,
                     std::int64_t size, std::int32_t state);
  void close_if_active(std::int32_t task_id);

  download_task_store* store_;
  std::int32_t task_counter_;
  std::map<std::int32_t, task_entry> tasks_;
  std::unique_ptr<file_downloader> downloader_;
  std::function<void()> defer_start_next_;
  std::optional<std::int32_t> active_;
  std::vector<std::int32_t> refused_;
  // Shared by all tasks: only every 20th report reaches the callback, every 50th the database.
  std::uint64_t progress_reports_ = 0;
};

// Creates every missing folder above a file path ("\" and "/" both separate). Best effort.
void make_parent_dirs(const std::u16string& file_path);
// Size of the file at path, 0 when it cannot be read.
std::uint64_t file_size_of(const std::u16string& file_path);

}  // namespace store
