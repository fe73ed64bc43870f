#include "device/file_transfer.h"

#include "hostbase/message_window.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"
#include "x_os.h"

#include <map>
#include <utility>

namespace device {
namespace {

using qv::win32::multithread::event;

// Worker reports travel as tickets through the message window. A ticket names the object by a
// serial that is never reused, so a report that arrives after its object is gone finds nothing.
// The relay has static storage and outlives every message posted to it.
class report_relay : public hostbase::MessageHandler {
 public:
  static report_relay& instance() {
    static report_relay relay;
    return relay;
  }

  std::uint64_t enrol(transfer_worker* w) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::uint64_t serial = ++last_serial_;
    objects_[serial] = w;
    return serial;
  }

  void leave(std::uint64_t serial) {
    std::lock_guard<std::mutex> guard(lock_);
    objects_.erase(serial);
  }

  // Any thread.
  void post(std::uint64_t serial, const transfer_report& report, bool final) {
    auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
    if (!window) return;
    qv::loop::lparam_t ticket;
    {
      std::lock_guard<std::mutex> guard(lock_);
      ticket = next_ticket_++;
      if (next_ticket_ <= 0) next_ticket_ = 1;
      tickets_[ticket] = {serial, report, final};
    }
    if (!window->PostHandlerMessage(this, ticket)) {
      std::lock_guard<std::mutex> guard(lock_);
      tickets_.erase(ticket);
    }
  }

  void OnMessage(qv::loop::lparam_t ticket) override {
    transfer_worker* target = nullptr;
    transfer_report report;
    bool final = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      auto it = tickets_.find(ticket);
      if (it == tickets_.end()) return;
      auto t = std::move(it->second);
      tickets_.erase(it);
      auto o = objects_.find(t.serial);
      if (o == objects_.end()) return;
      target = o->second;
      report = std::move(t.report);
      final = t.final;
    }
    // Objects are destroyed on this thread only, so target is alive here.
    target->deliver(report, final);
  }

 private:
  std::mutex lock_;
  std::map<std::uint64_t, transfer_worker*> objects_;
  struct ticket_entry {
    std::uint64_t serial;
    transfer_report report;
    bool final;
  };
  std::map<qv::loop::lparam_t, ticket_entry> tickets_;
  std::uint64_t last_serial_ = 0;
  qv::loop::lparam_t next_ticket_ = 1;
};

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool final_status(std::int32_t s) {
  return s == transfer_status::kCancelled || s == 4 || s == transfer_status::kFinished ||
         s == transfer_status::kConnectionError;
}

}  // namespace

std::wstring transfer_lower(std::wstring text) {
  for (auto& c : text) {
    const unsigned u = static_cast<unsigned>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7) || (u >= 0x391 && u <= 0x3AB && u != 0x3A2) ||
        (u >= 0x410 && u <= 0x42F)) {
      c = static_cast<wchar_t>(u + 0x20);
    } else if (u >= 0x400 && u <= 0x40F) {
      c = static_cast<wchar_t>(u + 0x50);
    }
  }
  return text;
}

transfer_worker::transfer_worker() : serial_(report_relay::instance().enrol(this)) {}

transfer_worker::~transfer_worker() {
  shutdown();
  report_relay::instance().leave(serial_);
}

void transfer_worker::shutdown() { uninit(); }

void transfer_worker::init() {
  if (initialized_) return;
  initialized_ = true;
  wake_ = std::make_unique<event>(false, false);
  exited_ = std::make_unique<event>(true, false);
  if (!start()) {
    wake_.reset();
    exited_.reset();
  }
}

std::uint32_t transfer_worker::add_task(std::uint16_t type, std::string dir, std::string source,
                                        transfer_callback callback) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::uint32_t id = ++last_task_id_;
  task& t = tasks_[id];
  t.type = type;
  t.dir = std::move(dir);
  t.source = std::move(source);
  t.callback = std::move(callback);
  if (wake_) wake_->set();
  return id;
}

void transfer_worker::request_cancel_locked(std::uint32_t id) {
  if (id == 0 || id != running_id_) return;
  cancel_requested_ = true;
  abort_running();
}

void transfer_worker::cancel(std::uint32_t id) {
  transfer_callback doomed;  // released after the lock: its release may call into Lua
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = tasks_.find(id);
    if (it == tasks_.end()) return;
    if (id == running_id_) {
      // Released when the worker's end is reported, whatever its status, without a callback.
      request_cancel_locked(id);
      it->second.callback = nullptr;
      it->second.cancelled = true;
      return;
    }
    doomed = std::move(it->second.callback);
    tasks_.erase(it);
  }
}

void transfer_worker::cancel_all() {
  std::map<std::uint32_t, task> doomed;
  {
    std::lock_guard<std::mutex> guard(lock_);
    request_cancel_locked(running_id_);
    doomed.swap(tasks_);
  }
}

void transfer_worker::uninit() {
  std::map<std::uint32_t, task> doomed;
  {
    std::lock_guard<std::mutex> guard(lock_);
    request_cancel_locked(running_id_);
    cancel_requested_ = true;
    doomed.swap(tasks_);
    if (wake_) wake_->set();
  }
  if (exited_) {
    // The worker's blocking call has been aborted; what is left is at most one chunk of local
    // file work, after which it sees the cancel. Waiting for it keeps the forcible end of
    // thread::stop for threads that are truly stuck.
    if (running()) {
      stop_event().set();
      exited_->wait();
    }
    stop();
    exited_.reset();
    wake_.reset();
  }
}

bool transfer_worker::has_task(std::uint32_t id) const {
  std::lock_guard<std::mutex> guard(lock_);
  return tasks_.count(id) != 0;
}

std::size_t transfer_worker::task_count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return tasks_.size();
}

void transfer_worker::post_progress(const job& j, bool final) {
  transfer_report r;
  r.id = j.id;
  {
    std::lock_guard<std::mutex> guard(j.record->lock);
    r.current_file = j.record->current_file;
    r.status = j.record->status;
    r.done = j.record->done;
    r.total = j.record->total;
  }
  report_relay::instance().post(serial_, r, final);
}

void transfer_worker::run() {
  for (;;) {
    if (stop_event().is_set()) break;
    job j;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (auto& [id, t] : tasks_) {
        if (t.started) continue;
        t.started = true;
        t.record = std::make_shared<progress>();
        running_id_ = id;
        cancel_requested_ = false;  // under the lock, so a cancel of this task cannot be lost
        j.id = id;
        j.type = t.type;
        j.dir = qv::text::utf8_to_wide(t.dir);
        j.source = qv::text::utf8_to_wide(t.source);
        j.record = t.record;
        break;
      }
    }
    if (j.id == 0) {
      if (event::wait_any({&stop_event(), wake_.get()}) != 1) break;
      continue;
    }
    const std::int32_t status = run_job(j);
    {
      std::lock_guard<std::mutex> guard(j.record->lock);
      j.record->status = status;
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      running_id_ = 0;
    }
    post_progress(j, true);
  }
  exited_->set();
}

void transfer_worker::deliver(const transfer_report& report, bool final) {
  transfer_callback callback;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = tasks_.find(report.id);
    if (it == tasks_.end()) return;
    // Tasks that ended with an error stay (never restarted) until they are cancelled; one that
    // was cancelled while it ran goes now.
    if (final && (final_status(report.status) || it->second.cancelled)) {
      callback = std::move(it->second.callback);
      tasks_.erase(it);
    } else {
      callback = it->second.callback;
    }
  }
  if (report.status != transfer_status::kCancelled && callback) callback(report);
}

bool transfer_worker::collect(const std::wstring& source, bool& folder_mode, std::vector<std::wstring>& files,
                              std::uint64_t& total) {
  total = 0;
  files.clear();
  folder_mode = os::is_directory(source);
  if (folder_mode) {
    if (!os::list_files(source, files)) return false;
    for (const auto& f : files) {
      std::uint64_t size = 0;
      if (os::file_size(local_file(source, true, f), size)) total += size;
    }
  } else {
    files.push_back(source);
    std::uint64_t size = 0;
    if (os::file_size(source, size)) total = size;
  }
  return true;
}

bool transfer_worker::start_job(const job& j, bool& folder_mode, std::vector<std::wstring>& files) {
  std::uint64_t total = 0;
  const bool listed = collect(j.source, folder_mode, files, total);
  std::lock_guard<std::mutex> guard(j.record->lock);
  j.record->total = total;
  j.record->done = 0;
  return listed;
}

std::wstring transfer_worker::local_file(const std::wstring& source, bool folder_mode, const std::wstring& file) {
  if (!folder_mode) return source;
  std::wstring root = source;
  while (root.size() > 1 && is_separator(root.back())) root.pop_back();
  // Keep the caller's separator style.
  const wchar_t sep = root.find(L'\\') == std::wstring::npos && root.find(L'/') != std::wstring::npos ? L'/' : L'\\';
  std::wstring rel = file;
  if (sep == L'/') {
    for (auto& c : rel) {
      if (c == L'\\') c = L'/';
    }
  }
  return root + sep + rel;
}

}  // namespace device
