#include "store/download_queue.h"

#include <filesystem>
#include <system_error>

#include "store/sqlite_manager.h"
#include "qv/path.h"

namespace store {
namespace {

constexpr std::uint64_t kReportEvery = 20;
constexpr std::uint64_t kRecordEvery = 50;

std::filesystem::path os_path(const std::u16string& path) {
  std::u16string p = path;
  for (char16_t& c : p)
    if (c == u'\\') c = u'/';
  return qv::path::to_fs_path(p);
}

std::int32_t incremented(std::int32_t id) {
  // Wraps instead of overflowing; ids are only compared for equality and order.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(id) + 1u);
}

std::int64_t as_signed(std::uint64_t v) {
  return v > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(v);
}

}  // namespace

void make_parent_dirs(const std::u16string& file_path) {
  const std::filesystem::path parent = os_path(file_path).parent_path();
  if (parent.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
}

std::uint64_t file_size_of(const std::u16string& file_path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(os_path(file_path), ec);
  return ec ? 0 : static_cast<std::uint64_t>(size);
}

std::string download_queue::range_value(std::int64_t pos) {
  // The whole 64-bit position: resuming past 2 GiB must not restart from a wrapped offset.
  return "bytes=" + std::to_string(pos) + " -";
}

download_queue::download_queue(download_task_store* store, std::int32_t first_task_id,
                               const downloader_factory& make_downloader,
                               std::function<void()> defer_start_next)
    : store_(store),
      task_counter_(first_task_id),
      downloader_(make_downloader(*this)),
      defer_start_next_(std::move(defer_start_next)) {}

download_queue::~download_queue() {
  if (downloader_) downloader_->close();
}

std::int32_t download_queue::download_file(new_download r) {
  make_parent_dirs(r.path);
  task_counter_ = incremented(task_counter_);
  const std::int32_t id = task_counter_;
  task_entry t;
  t.callback = r.callback;
  t.path = r.path;
  t.url = r.url;
  t.recorded = r.task_type != kVolatileTaskType;
  tasks_[id] = std::move(t);
  start_next();
  if (r.task_type != kVolatileTaskType && store_ != nullptr) {
    task_record rec;
    rec.task_id = id;
    rec.task_type = r.task_type;
    rec.task_state = kTaskWaiting;
    rec.file_path = r.path;
    rec.show_name = r.show_name;
    rec.download_url = r.url_text;
    rec.logo_url = r.logo;
    store_->add_task(rec);
  }
  return id;
}

std::int32_t download_queue::add_stored_task(std::int32_t task_id, std::string url,
                                             std::int64_t file_pos, std::int64_t file_size,
                                             std::u16string path,
                                             download_callback_ptr callback) {
  make_parent_dirs(path);
  task_entry t;
  t.callback = std::move(callback);
  t.path = std::move(path);
  t.url = std::move(url);
  t.pos = file_pos;
  t.size = file_size;
  // Replacing an entry drops its callback; keep the old one alive until the map is consistent.
  download_callback_ptr old;
  auto it = tasks_.find(task_id);
  if (it != tasks_.end()) old = std::move(it->second.callback);
  tasks_[task_id] = std::move(t);
  start_next();
  return task_id;
}

void download_queue::update_stored_task(std::int32_t task_id, std::int64_t file_pos,
                                        std::int64_t file_size, std::int32_t task_state) {
  if (store_ != nullptr) store_->update_task_progress(task_id, file_pos, file_size, task_state);
}

std::int32_t download_queue::next_task_id() {
  task_counter_ = incremented(task_counter_);
  return task_counter_;
}

void download_queue::restart_task(std::int32_t task_id) {
  auto it = tasks_.find(task_id);
  if (it == tasks_.end()) return;
  it->second.state = kTaskWaiting;
  start_next();
}

void download_queue::close_if_active(std::int32_t task_id) {
  if (active_ == task_id) {
    downloader_->close();
    active_.reset();
  }
}

void download_queue::stop_task(std::int32_t task_id) {
  auto it = tasks_.find(task_id);
  if (it == tasks_.end()) return;
  close_if_active(task_id);
  it->second.state = kTaskStopped;
  start_next();
}

void download_queue::cancel_task(std::int32_t task_id, bool keep_record) {
  auto it = tasks_.find(task_id);
  const bool recorded = it == tasks_.end() || it->second.recorded;
  if (!keep_record && recorded && store_ != nullptr) store_->delete_task(task_id);
  if (it == tasks_.end()) return;
  close_if_active(task_id);
  const download_callback_ptr released = std::move(it->second.callback);
  tasks_.erase(it);
  start_next();
}

void download_queue::start_next() {
  for (;;) {
    if (downloader_->is_requesting()) return;
    auto it = tasks_.begin();
    while (it != tasks_.end() && it->second.state != kTaskWaiting) ++it;
    if (it == tasks_.end()) return;
    task_entry& t = it->second;
    t.state = kTaskDownloading;
    const header_list headers{{"Range", range_value(t.pos)}};
    if (downloader_->request_file(it->first, t.url, headers, t.path)) {
      active_ = it->first;
      return;
    }
    // Refused (unusable URL or path): it fails, and is reported once the caller has unwound,
    // so that no callback runs inside the call that queued it.
    t.state = kTaskFailed;
    refused_.push_back(it->first);
    if (defer_start_next_) defer_start_next_();
  }
}

void download_queue::run_deferred() {
  std::vector<std::int32_t> refused;
  refused.swap(refused_);
  for (std::int32_t id : refused) {
    auto it = tasks_.find(id);
    if (it == tasks_.end() || it->second.state != kTaskFailed) continue;
    record_progress(id, it->second, it->second.pos, it->second.size, kTaskFailed);
    report(it->second.callback, id, it->second.pos, it->second.size, kTaskFailed);
  }
  start_next();
}

void download_queue::record_progress(std::int32_t id, const task_entry& t, std::int64_t pos,
                                     std::int64_t size, std::int32_t state) {
  if (t.recorded && store_ != nullptr) store_->update_task_progress(id, pos, size, state);
}

void download_queue::report(download_callback_ptr cb, std::int32_t id, std::int64_t pos,
                            std::int64_t size, std::int32_t state) {
  // cb is a copy: the callback may cancel its own task, which releases the queue's copy.
  if (cb) cb->call(id, pos, size, state);
}

void download_queue::on_file_progress(std::int32_t request_id, std::uint64_t range_start,
                                      std::uint64_t received, std::uint64_t total_size) {
  auto it = tasks_.find(request_id);
  if (it == tasks_.end()) return;
  task_entry& t = it->second;
  t.pos = as_signed(range_start + received);
  t.size = as_signed(total_size);
  ++progress_reports_;
  const std::int64_t pos = t.pos;
  const std::int64_t size = t.size;
  if (progress_reports_ % kRecordEvery == 0) record_progress(request_id, t, pos, size, 1);
  if (progress_reports_ % kReportEvery == 0) report(t.callback, request_id, pos, size, 1);
}

void download_queue::on_file_ready(std::int32_t request_id, const std::string&,
                                   std::uint64_t size, const std::u16string& path, int) {
  if (active_ == request_id) active_.reset();
  auto it = tasks_.find(request_id);
  if (it != tasks_.end()) {
    // "Not modified" carries no size: the existing file's size stands for it.
    if (size == 0) size = file_size_of(path);
    const std::int64_t s = as_signed(size);
    // Out of the queue before the callback runs, so that whatever it starts sees the queue
    // as it will be.
    const task_entry done = std::move(it->second);
    tasks_.erase(it);
    record_progress(request_id, done, s, s, kTaskFinished);
    report(done.callback, request_id, s, s, kTaskFinished);
  }
  start_next();
}

void download_queue::on_file_error(std::int32_t request_id, const std::string&, std::int32_t) {
  if (active_ == request_id) active_.reset();
  auto it = tasks_.find(request_id);
  if (it != tasks_.end()) {
    task_entry& t = it->second;
    t.state = kTaskFailed;  // before the callback, which may restart it
    const download_callback_ptr cb = t.callback;
    const std::int64_t pos = t.pos;
    const std::int64_t size = t.size;
    record_progress(request_id, t, pos, size, kTaskFailed);
    report(cb, request_id, pos, size, kTaskFailed);
  }
  if (defer_start_next_) defer_start_next_();
}

std::optional<download_task_view> download_queue::task(std::int32_t task_id) const {
  auto it = tasks_.find(task_id);
  if (it == tasks_.end()) return std::nullopt;
  const task_entry& t = it->second;
  return download_task_view{t.state, t.pos, t.size, t.path, t.url};
}

}  // namespace store
