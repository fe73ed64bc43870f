#include "android/android_connect_manager.h"

#include "android/child_process.h"
#include "qv/text.h"
#include "qv/singleton_ex.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

using qv::win32::multiprocess::share_memory;
using qv::win32::multithread::event;
using tiv::android::child_process;

class CAndroidConnectManager::worker final : public qv::win32::multithread::thread {
 public:
  worker(CAndroidConnectManager& owner, int index) : owner_(owner), index_(index) {}
  ~worker() override { stop(); }

 protected:
  void run() override { owner_.run_worker(index_, stop_event()); }

 private:
  CAndroidConnectManager& owner_;
  int index_;
};

namespace {

using guard = std::lock_guard<qv::win32::multithread::critical_section>;

// Each kind of failure is logged once: the same failure again for every command is noise.
void log_once(std::atomic<bool>& logged, const std::string& text) {
  if (logged.exchange(true)) return;
  const std::string line = "ADB runner: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

std::atomic<bool> g_client_failure_logged{false};
std::atomic<bool> g_stock_client_failure_logged{false};

}  // namespace

CAndroidConnectManager::CAndroidConnectManager()
    : CAndroidConnectManager(kCommonBlock, kQuickBlock) {}

CAndroidConnectManager::CAndroidConnectManager(std::string common_block, std::string quick_block) {
  slots_[0].block_name = std::move(common_block);
  slots_[1].block_name = std::move(quick_block);
  for (slot& s : slots_) {
    s.wake = std::make_unique<event>(false, false);
    // A client that creates a block nobody holds loses it when it exits, and with it the
    // output; the manager therefore holds both blocks, the quick one too.
    s.holder.open(s.block_name.c_str(), false);
  }
  window_ = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
}

CAndroidConnectManager::~CAndroidConnectManager() {
  Stop();
  for (slot& s : slots_) s.thread.reset();
}

int CAndroidConnectManager::Start() {
  if (started_) return 1;
  started_ = true;
  for (int i = 0; i < 2; ++i) {
    if (slots_[i].thread) continue;
    slots_[i].thread = std::make_unique<worker>(*this, i);
    slots_[i].thread->start();
  }
  return 1;
}

void CAndroidConnectManager::Stop() {
  {
    guard g(lock_);
    stopped_ = true;
    commands_.clear();
    for (slot& s : slots_) s.wake->set();
  }
  for (slot& s : slots_) {
    if (s.thread) s.thread->stop();
  }
}

int CAndroidConnectManager::AddCommand(AndroidConnectCallback* callback,
                                       const std::wstring& command_line, int priority_key,
                                       int quick, int timeout_ms) {
  guard g(lock_);
  const int id = ++last_id_;
  AdbCommand cmd;
  cmd.id = id;
  cmd.command_line = command_line;
  cmd.callback = callback;
  cmd.timeout_ms = timeout_ms;
  cmd.quick = quick;
  commands_[priority_key].emplace(id, std::move(cmd));
  // After Stop the workers are gone: the command is kept but never runs.
  if (!stopped_) slots_[quick != 0 ? 1 : 0].wake->set();
  return id;
}

CAndroidConnectManager::AdbCommand* CAndroidConnectManager::find(int id, int* key) {
  for (auto& [k, inner] : commands_) {
    auto it = inner.find(id);
    if (it != inner.end()) {
      if (key) *key = k;
      return &it->second;
    }
  }
  return nullptr;
}

void CAndroidConnectManager::CancelCommand(int id) {
  guard g(lock_);
  int key = 0;
  if (!find(id, &key)) return;
  for (slot& s : slots_) {
    if (s.running_id == id) {
      if (s.process) s.process->terminate();
      s.process.reset();
      s.running_id = 0;
    }
  }
  auto outer = commands_.find(key);
  outer->second.erase(id);
  if (outer->second.empty()) commands_.erase(outer);
}

void CAndroidConnectManager::CancelAllCommands() {
  guard g(lock_);
  for (slot& s : slots_) {
    if (s.running_id != 0 && find(s.running_id)) {
      if (s.process) s.process->terminate();
      s.process.reset();
      s.running_id = 0;
    }
  }
  commands_.clear();
}

void CAndroidConnectManager::OnMessage(qv::loop::lparam_t payload) {
  const int id = static_cast<int>(payload);
  AndroidConnectCallback* callback = nullptr;
  std::wstring output;
  {
    guard g(lock_);
    int key = 0;
    AdbCommand* cmd = find(id, &key);
    if (!cmd || !cmd->finished) return;  // cancelled after the post
    callback = cmd->callback;
    output = std::move(cmd->output);
    auto outer = commands_.find(key);
    outer->second.erase(id);
    if (outer->second.empty()) commands_.erase(outer);
  }
  // Forgotten before the call, so that the callback may queue or cancel anything, this id too.
  if (callback) callback->OnResult(id, output);
}

void CAndroidConnectManager::run_worker(int index, event& stop) {
  slot& me = slots_[index];
  for (;;) {
    if (stop.is_set()) return;
    int id = 0;
    int key = 0;
    std::wstring line;
    int timeout_ms = -1;
    {
      guard g(lock_);
      for (auto& [k, inner] : commands_) {
        for (auto& [cid, cmd] : inner) {
          if (cmd.state == 0 && cmd.quick == index) {
            cmd.state = 1;
            id = cid;
            key = k;
            line = cmd.command_line;
            timeout_ms = cmd.timeout_ms;
            break;
          }
        }
        if (id) break;
      }
      if (id) me.running_id = id;
    }
    if (!id) {
      event::wait_any({me.wake.get(), &stop});
      continue;
    }
    std::wstring output;
    if (!run_command(index, id, line, timeout_ms, stop, output)) return;
    guard g(lock_);
    if (me.running_id == id) me.running_id = 0;
    auto outer = commands_.find(key);
    if (outer == commands_.end()) continue;
    auto it = outer->second.find(id);
    if (it == outer->second.end()) continue;  // cancelled while it ran: nothing to deliver
    it->second.output = std::move(output);
    it->second.finished = true;
    if (window_) window_->PostHandlerMessage(this, id);
  }
}

bool CAndroidConnectManager::run_command(int index, int id, const std::wstring& command_line,
                                         int timeout_ms, event& stop, std::wstring& output) {
  slot& me = slots_[index];
  tiv::android::process_options options;
  options.environment = {{kBlockVariable, qv::text::utf8_to_wide(me.block_name)}};
  options.own_group = true;
  std::wstring why;
  std::shared_ptr<child_process> process = child_process::start(command_line, options, &why);
  if (!process) {
    log_once(g_client_failure_logged,
             "cannot start the ADB client: " + qv::text::wide_to_utf8(why) +
                 "; its commands complete with empty output");
    output.clear();
    return true;
  }
  {
    guard g(lock_);
    if (me.running_id == id) {
      me.process = process;
    } else {
      process->terminate();  // cancelled while it was being started
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int slice = kStopPollMs;
    if (timeout_ms >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      slice = static_cast<int>(std::max<long long>(0, std::min<long long>(left, kStopPollMs)));
    }
    if (process->wait(slice)) break;
    if (stop.is_set()) {
      // The client is left to finish on its own; nothing is read or delivered.
      guard g(lock_);
      me.process.reset();
      return false;
    }
    if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) {
      process->terminate();
      process->wait(-1);
      break;
    }
  }
  {
    guard g(lock_);
    me.process.reset();
  }
  if (process->exit_code() == kNoStockClientExitCode) {
    log_once(g_stock_client_failure_logged,
             "the ADB client found no stock ADB client (adb) beside it, in TIVOREL_ADB or in PATH; "
             "its commands report that as an error line");
  }
  output = read_block(index);
  return true;
}

std::wstring CAndroidConnectManager::read_block(int index) {
  share_memory block;
  if (!block.open(slots_[index].block_name.c_str(), true)) return {};
  block.lock();
  auto* data = static_cast<char*>(block.data());
  const std::size_t size = block.size();
  std::string text(data, std::find(data, data + size, '\0'));
  std::memset(data, 0, size);  // the next run starts from an empty block
  block.unlock();
  block.close();
  return qv::text::utf8_to_wide(text);
}
