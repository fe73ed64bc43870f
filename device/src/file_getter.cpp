#include "device/file_transfer.h"

#include "qv/text.h"

#include <algorithm>
#include "x_os.h"

namespace device {

class get_file_handle : public os::file {};

namespace {

const char* const kLoopbackHost = "127.0.0.1";

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

std::vector<std::uint8_t> request_frame(std::uint16_t code, const std::string& path, bool with_empty_path) {
  std::vector<std::uint8_t> f;
  f.push_back(static_cast<std::uint8_t>(code & 0xFF));
  f.push_back(static_cast<std::uint8_t>(code >> 8));
  const bool with_path = !path.empty() || with_empty_path;
  put_u32(f, with_path ? static_cast<std::uint32_t>(4 + path.size()) : 0);
  if (with_path) {
    put_u32(f, static_cast<std::uint32_t>(path.size()));
    f.insert(f.end(), path.begin(), path.end());
  }
  return f;
}

}  // namespace

file_getter::file_getter(std::uint16_t port) : port_(port), alive_(std::make_shared<bool>(true)) {}

file_getter::~file_getter() {
  *alive_ = false;
  if (socket_) socket_->teardown();
  if (file_ && file_->is_open()) {
    file_->close();
    os::remove_file(file_path_);  // an unfinished reply is not a file
  }
}

void file_getter::init() {
  if (initialized_) return;
  initialized_ = true;
  socket_ = std::make_unique<qv::win32::net::asyn_tcp_socket>(this);
  socket_->bind(kLoopbackHost, port_);
}

std::uint32_t file_getter::get(std::uint16_t code, std::string device_path, std::string local_path, callback cb) {
  const std::uint32_t id = ++last_task_id_;
  get_task t;
  t.code = code;
  t.device_path = std::move(device_path);
  t.local_path = std::move(local_path);
  t.id = id;
  t.cb = std::move(cb);
  if (busy_) {
    queue_.push_back(std::move(t));
    return id;
  }
  // Nothing runs: the new task is sent at once, ahead of any task that a failure left waiting
  // for ContinueNextTask. The running task is always the head.
  queue_.push_front(std::move(t));
  start(queue_.front(), false);
  return id;
}

void file_getter::start(get_task& t, bool with_empty_path) {
  request_ = request_frame(t.code, t.device_path, with_empty_path);
  t.state = 1;
  t.started = true;
  busy_ = true;
  if (!socket_ || !socket_->send(request_.data(), static_cast<std::uint32_t>(request_.size()))) {
    // Nothing will answer: the task waits for ContinueNextTask like a failed one.
    t.state = 0;
    t.started = false;
    busy_ = false;
  }
}

void file_getter::reset_reply() {
  header_expected_ = true;
  remaining_ = 0;
}

void file_getter::next_task() {
  // Ended tasks leave the queue at once, so the head is the oldest task still to run.
  if (!queue_.empty()) start(queue_.front(), true);
}

bool file_getter::finish_head(std::int32_t status) {
  get_task& head = queue_.front();
  const std::uint32_t id = head.id;
  const std::string local_path = head.local_path;
  callback cb = std::move(head.cb);
  const std::uint64_t received = received_;
  reset_reply();
  const bool had_file = file_ != nullptr;
  if (file_) file_->close();
  file_.reset();
  if (status != transfer_status::kFinished) {
    if (socket_) socket_->close_connection();
    // Only this task's own partial file; a target that could not be created is left alone.
    if (had_file) os::remove_file(file_path_);
  } else if (socket_) {
    // One connection per request: an agent that closes after its reply never races the next
    // request on a connection it is closing.
    socket_->close_connection();
  }
  // The task leaves before its callback, which then sees an idle object: a task queued from
  // there is sent at once.
  queue_.pop_front();
  busy_ = false;
  std::shared_ptr<bool> alive = alive_;
  if (cb) cb(id, status, local_path, status == transfer_status::kConnectionError ? 0 : received);
  if (!*alive) return false;
  // After a failure the next task waits for ContinueNextTask.
  if (status != transfer_status::kConnectionError && !busy_) next_task();
  return true;
}

void file_getter::fail_head() {
  const bool running = !queue_.empty() && queue_.front().state == 1;
  if (!running) {
    reset_reply();
    busy_ = false;
    return;
  }
  finish_head(transfer_status::kConnectionError);
}

void file_getter::on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) {
  consumed = 0;
  if (queue_.empty() || queue_.front().state != 1 || !busy_) {
    consumed = size;  // nothing asked for these bytes
    return;
  }
  std::uint32_t offset = 0;
  if (header_expected_) {
    if (size < 6) return;
    remaining_ = (static_cast<std::uint32_t>(data[2]) << 24) | (static_cast<std::uint32_t>(data[3]) << 16) |
                 (static_cast<std::uint32_t>(data[4]) << 8) | data[5];
    header_expected_ = false;
    offset = 6;
  }
  const std::uint32_t take = std::min(remaining_, size - offset);
  remaining_ -= take;
  consumed = offset + take;

  get_task& head = queue_.front();
  if (!file_) {
    file_path_ = qv::text::utf8_to_wide(head.local_path);
    auto f = std::make_unique<get_file_handle>();
    received_ = 0;
    if (!os::create_parent_folders(file_path_) || !f->create_write(file_path_)) {
      finish_head(transfer_status::kLocalFile);
      return;
    }
    file_ = std::move(f);
  }
  // Pieces of content, one report each; an empty reply reports its one empty piece.
  if (take > 0 || remaining_ == 0) {
    if (take > 0 && !file_->write(data + offset, take)) {
      finish_head(transfer_status::kLocalFile);  // a short file is not the device's file
      return;
    }
    received_ += take;
    const std::uint32_t id = head.id;
    callback cb = head.cb;
    std::shared_ptr<bool> alive = alive_;
    if (cb) cb(id, transfer_status::kProgress, head.local_path, take);
    if (!*alive) return;
    // The callback may have cancelled this task or everything: then the reply is not ours.
    if (queue_.empty() || queue_.front().id != id || queue_.front().state != 1) return;
  }
  if (remaining_ == 0) finish_head(transfer_status::kFinished);
}

void file_getter::on_error(std::int32_t) { fail_head(); }

// The agent closing before the whole content arrived is a failed transfer, never a short file.
void file_getter::on_closed() { fail_head(); }

void file_getter::cancel(std::uint32_t id) {
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (it->id != id) continue;
    if (it == queue_.begin() && it->state == 1) {
      finish_head(transfer_status::kCancelled);
    } else {
      queue_.erase(it);
    }
    return;
  }
}

void file_getter::cancel_all() {
  reset_reply();
  busy_ = false;
  if (socket_) socket_->close_connection();
  if (file_) {
    file_->close();
    file_.reset();
    os::remove_file(file_path_);
  }
  std::list<get_task> doomed;
  doomed.swap(queue_);
}

void file_getter::continue_next() {
  // A task whose request is out is running, not failed: it is left to finish.
  if (busy_) return;
  if (socket_) socket_->close_connection();
  reset_reply();
  if (file_) {
    file_->close();
    file_.reset();
    os::remove_file(file_path_);
  }
  next_task();
}

void file_getter::uninit() {
  if (file_) {
    file_->close();
    file_.reset();
    os::remove_file(file_path_);
  }
  reset_reply();
  busy_ = false;
  if (socket_) socket_->teardown();
}

}  // namespace device
