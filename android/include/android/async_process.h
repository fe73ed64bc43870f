// The process runner: command lines queued from the UI thread run one at a time, in id order,
// on a worker thread of its own, with their output captured; each result comes back on the UI
// thread through the message window, read as the command's parse mode asks.
#pragma once

#include "android/child_process.h"
#include "hostbase/message_window.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tiv::android {

enum ProcessParseMode : std::int32_t {
  kParseRaw = 0,        // the output as text
  kParseBadging = 1,    // package name, label and icon of a badging report
  kParseAdbPortOwner = 2,  // the process that listens on 127.0.0.1:5037
};

// Receives one command's result on the UI thread. Owned by its command.
class ProcessListener {
 public:
  virtual ~ProcessListener() = default;
  // `output` is what the command wrote, as UTF-8: kept as it came, with U+FFFD for each
  // malformed sequence.
  virtual void OnProcessOutput(std::int32_t id, std::int32_t parse_mode,
                               const std::string& output) = 0;
};

class CAsyncProcessRunner : public hostbase::MessageHandler {
 public:
  CAsyncProcessRunner() = default;
  // Stops the worker (waiting for it) and drops every command without a call.
  ~CAsyncProcessRunner() override;
  CAsyncProcessRunner(const CAsyncProcessRunner&) = delete;
  CAsyncProcessRunner& operator=(const CAsyncProcessRunner&) = delete;

  // Starts the worker on the first call; later calls, also after UnInit, do nothing.
  void Init();
  // Ends the running child and stops the worker, waiting until it has left. Waiting commands
  // stay queued but no longer run.
  void UnInit();

  // Queues a command; returns its id (1, 2, ...). The listener may be null: the command runs
  // and its result is dropped.
  std::int32_t AddCommand(const std::wstring& command_line, std::int32_t parse_mode,
                          std::int32_t timeout_ms, std::unique_ptr<ProcessListener> listener);
  // Forgets the command, ending its child when it is the one running; no result is delivered.
  void CancelTask(std::int32_t id);
  void CancelAllTasks();

  // The message window's delivery of a finished command (UI thread).
  void OnMessage(qv::loop::lparam_t id) override;

 private:
  struct Command {
    std::int32_t parse_mode = kParseRaw;
    bool taken = false;
    std::wstring command_line;
    std::string output;
    std::int32_t timeout_ms = -1;
    std::unique_ptr<ProcessListener> listener;
  };

  void Body();
  void EndRunningChildLocked();

  std::mutex lock_;
  std::condition_variable wake_;
  std::map<std::int32_t, Command> commands_;
  std::int32_t last_id_ = 0;
  std::int32_t running_id_ = 0;
  std::shared_ptr<child_process> running_;
  bool initialised_ = false;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace tiv::android
