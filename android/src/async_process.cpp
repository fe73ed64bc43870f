#include "android/async_process.h"

#include "android/process_output.h"
#include "task_queue.h"
#include "qv/text.h"
#include "qv/singleton_ex.h"

#include <system_error>
#include <vector>

namespace tiv::android {

CAsyncProcessRunner::~CAsyncProcessRunner() { UnInit(); }

void CAsyncProcessRunner::Init() {
  std::lock_guard<std::mutex> g(lock_);
  if (initialised_) return;
  initialised_ = true;
  try {
    worker_ = std::thread(&CAsyncProcessRunner::Body, this);
  } catch (const std::system_error&) {
    // Without a worker the commands stay queued and never run, as after UnInit.
  }
}

void CAsyncProcessRunner::UnInit() {
  {
    std::lock_guard<std::mutex> g(lock_);
    stop_ = true;
    EndRunningChildLocked();
  }
  wake_.notify_all();
  // The worker is waited for, never killed: it may hold the lock or a child's handles.
  if (worker_.joinable()) worker_.join();
}

void CAsyncProcessRunner::EndRunningChildLocked() {
  if (running_) running_->terminate();
}

std::int32_t CAsyncProcessRunner::AddCommand(const std::wstring& command_line,
                                             std::int32_t parse_mode, std::int32_t timeout_ms,
                                             std::unique_ptr<ProcessListener> listener) {
  std::int32_t id = 0;
  {
    std::lock_guard<std::mutex> g(lock_);
    id = ++last_id_;
    Command& c = commands_[id];
    c.parse_mode = parse_mode;
    c.command_line = command_line;
    c.timeout_ms = timeout_ms;
    c.listener = std::move(listener);
  }
  wake_.notify_all();
  return id;
}

void CAsyncProcessRunner::CancelTask(std::int32_t id) {
  std::unique_ptr<ProcessListener> dropped;  // released outside the lock
  std::lock_guard<std::mutex> g(lock_);
  auto it = commands_.find(id);
  if (it == commands_.end()) return;
  if (running_id_ == id) EndRunningChildLocked();
  dropped = std::move(it->second.listener);
  commands_.erase(it);
}

void CAsyncProcessRunner::CancelAllTasks() {
  std::map<std::int32_t, Command> dropped;
  std::lock_guard<std::mutex> g(lock_);
  EndRunningChildLocked();
  dropped.swap(commands_);
}

void CAsyncProcessRunner::Body() {
  for (;;) {
    std::int32_t id = 0;
    std::wstring line;
    std::int32_t timeout_ms = -1;
    {
      std::unique_lock<std::mutex> g(lock_);
      const auto next = TakeNextTask(g, wake_, stop_, commands_);
      if (next == commands_.end()) return;
      id = next->first;
      line = next->second.command_line;
      timeout_ms = next->second.timeout_ms;
      running_id_ = id;
    }
    std::string bytes =
        RunCaptured(line, timeout_ms, [this, id](std::shared_ptr<child_process> child) {
          std::lock_guard<std::mutex> g(lock_);
          running_ = std::move(child);
          // Cancelled or stopped before the child was known: it ends at once.
          if (running_ && (stop_ || commands_.find(id) == commands_.end())) running_->terminate();
        });
    // Kept as UTF-8: a trip through wide text would cost a multiple of the output's size.
    std::string output = qv::text::valid_utf8(std::move(bytes));
    bool deliver = false;
    {
      std::lock_guard<std::mutex> g(lock_);
      running_id_ = 0;
      running_.reset();
      auto it = commands_.find(id);
      // A child ended by UnInit did not finish: its partial output is no result.
      if (!stop_ && it != commands_.end()) {
        it->second.output = std::move(output);
        deliver = true;
      }
    }
    if (deliver) {
      if (auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance())
        window->PostHandlerMessage(this, id);
    }
  }
}

void CAsyncProcessRunner::OnMessage(qv::loop::lparam_t payload) {
  const auto id = static_cast<std::int32_t>(payload);
  Command done;
  {
    std::lock_guard<std::mutex> g(lock_);
    auto it = commands_.find(id);
    if (it == commands_.end()) return;
    done = std::move(it->second);
    commands_.erase(it);
  }
  // Forgotten before the call: the listener may queue or cancel anything meanwhile.
  if (done.listener) done.listener->OnProcessOutput(id, done.parse_mode, done.output);
}

}  // namespace tiv::android
