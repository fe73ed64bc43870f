// The ADB command runner: queues complete command lines for the ADB client front
// ("tivorel_help.exe ..."), runs them hidden on two worker threads - "common" and "quick" -, reads
// each command's output from the client's shared output block once the process has ended, and
// hands it back on the UI thread to whoever queued the command. It gives the output no meaning.
#pragma once

#include "hostbase/message_window.h"
#include "hostbase/shared_blocks.h"
#include "qv/critical_section.h"
#include "qv/event.h"
#include "qv/message_loop.h"
#include "qv/share_memory.h"
#include "qv/thread.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace tiv::android {
class child_process;
}

// Receives a command's output on the UI thread.
class AndroidConnectCallback {
 public:
  virtual ~AndroidConnectCallback() = default;
  virtual void OnResult(int id, std::wstring& output) = 0;
};

// Completions reach the UI thread through the process's message window (message 0x401 with
// the manager as handler), which must exist before the manager is created.
class CAndroidConnectManager : public hostbase::MessageHandler {
 public:
  // The client learns the block it writes from this environment variable.
  static constexpr const wchar_t* kBlockVariable = L"TIVOREL_ADB_BLOCK";
  static constexpr const char* kCommonBlock = hostbase::kAdbBlockName;
  static constexpr const char* kQuickBlock = "TivorelAdbQuick";
  // The client's exit code when it found no stock ADB client to run.
  static constexpr int kNoStockClientExitCode = 127;
  // How often a worker that waits for a client looks whether it is being stopped.
  static constexpr int kStopPollMs = 50;

  // Created on the UI thread. The block names are those of the common and the quick worker.
  CAndroidConnectManager();
  CAndroidConnectManager(std::string common_block, std::string quick_block);
  ~CAndroidConnectManager() override;
  CAndroidConnectManager(const CAndroidConnectManager&) = delete;
  CAndroidConnectManager& operator=(const CAndroidConnectManager&) = delete;

  // Starts both workers, once per object lifetime. Returns 1.
  int Start();
  // Stops both workers and drops every queued command; running clients are left to finish on
  // their own. Start() afterwards does nothing.
  void Stop();

  // Queues a command line (UI thread). Lower priority keys run first, then lower ids. quick = 1
  // runs on the quick worker, 0 on the common one; other values are kept but never run.
  // timeout_ms < 0 waits for the client without limit. Returns the command's id (from 1).
  int AddCommand(AndroidConnectCallback* callback, const std::wstring& command_line,
                 int priority_key, int quick, int timeout_ms);
  // Forgets a command; if its client is running, ends it. Nothing is delivered for it.
  void CancelCommand(int id);
  void CancelAllCommands();

  // The completion step on the UI thread (payload: the command id): delivers a finished
  // command's output and forgets it.
  void OnMessage(qv::loop::lparam_t id) override;

 private:
  struct AdbCommand {
    int id = 0;
    std::wstring command_line;
    int state = 0;  // 0 waiting, 1 taken by a worker until delivered
    AndroidConnectCallback* callback = nullptr;
    std::wstring output;
    bool finished = false;  // output stored, completion posted
    int timeout_ms = -1;
    int quick = 0;
  };

  class worker;
  struct slot {
    std::string block_name;
    std::unique_ptr<qv::win32::multithread::event> wake;  // auto reset
    std::unique_ptr<worker> thread;
    std::shared_ptr<tiv::android::child_process> process;  // the running client, if any
    int running_id = 0;                                      // the command it runs
    // Held open for the manager's lifetime so that the block outlives each client run.
    qv::win32::multiprocess::share_memory holder;
  };

  void run_worker(int index, qv::win32::multithread::event& stop);
  // Runs one command line; false when the worker was told to stop meanwhile.
  bool run_command(int index, int id, const std::wstring& command_line, int timeout_ms,
                   qv::win32::multithread::event& stop, std::wstring& output);
  std::wstring read_block(int index);
  AdbCommand* find(int id, int* key = nullptr);

  std::map<int, std::map<int, AdbCommand>> commands_;
  int last_id_ = 0;
  bool started_ = false;
  bool stopped_ = false;
  qv::win32::multithread::critical_section lock_;
  slot slots_[2];
  hostbase::CMessageWindow* window_ = nullptr;
};
