// The hidden window that brings work back to the UI thread: completions posted from worker
// threads (message 0x401), device-change notifications and one-second timers.
#pragma once

#include "qv/message_loop.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hostbase {

constexpr unsigned kMsgHandler = qv::loop::kWmUser + 1;  // 0x401
constexpr std::uint32_t kFirstTimerId = 0x7000;
constexpr unsigned kTimerPeriodMs = 1000;

// The target of a posted 0x401: called on the UI thread with the payload.
class MessageHandler {
 public:
  virtual ~MessageHandler() = default;
  virtual void OnMessage(qv::loop::lparam_t payload) = 0;
};

struct WindowMessage {
  unsigned message;
  qv::loop::wparam_t wparam;
  qv::loop::lparam_t lparam;
  qv::loop::lresult_t result = 0;  // not read back
};

class WindowMessageListener {
 public:
  virtual ~WindowMessageListener() = default;
  virtual void OnWindowMessage(WindowMessage& record) = 0;
};

class TimerListener {
 public:
  virtual ~TimerListener() = default;
  virtual void OnTimer(std::uintptr_t parameter) = 0;
};

using TimerFunction = void (*)(std::uintptr_t parameter);

class CMessageWindow {
 public:
  CMessageWindow() = default;
  ~CMessageWindow();
  CMessageWindow(const CMessageWindow&) = delete;
  CMessageWindow& operator=(const CMessageWindow&) = delete;

  // Registers the class and creates the hidden window; whether a window was created.
  bool Create(const std::wstring& name);
  // Kills every timer, empties every table and destroys the window; nothing later is delivered.
  void Destroy();

  std::uint32_t AddDeviceChangeListener(WindowMessageListener* listener);
  bool RemoveListener(std::uint32_t id);

  // One-second timers; ids from 0x7000, never reused during a run.
  std::uint32_t SetObjectTimer(TimerListener* listener);
  std::uint32_t SetFunctionTimer(TimerFunction function, std::uintptr_t parameter);
  void RemoveTimer(std::uint32_t id);

  // Any thread: posts 0x401 with the handler and payload. The caller keeps the handler alive
  // until it has been called; the payload belongs to the handler. False when there is no window.
  bool PostHandlerMessage(MessageHandler* handler, qv::loop::lparam_t payload);

  qv::loop::window_handle window() const { return window_; }

 private:
  struct TimerEntry {
    int kind;  // 1: listener, 2: function
    TimerListener* listener;
    TimerFunction function;
    std::uintptr_t parameter;
  };
  struct ListenerEntry {
    std::uint32_t id;
    WindowMessageListener* target;
    int kind;  // always 1
    bool enabled;
  };

  static qv::loop::lresult_t WindowProc(void* self, qv::loop::window_handle w, unsigned msg,
                                        qv::loop::wparam_t wp, qv::loop::lparam_t lp);
  std::uint32_t StartTimer(TimerEntry entry);

  std::map<std::uint32_t, TimerEntry> timers_;
  std::map<std::uint32_t, std::vector<ListenerEntry>> listeners_;
  std::map<std::uint32_t, std::uint32_t> listener_messages_;
  std::uint32_t last_timer_id_ = kFirstTimerId - 1;
  std::uint32_t last_listener_id_ = 0;
  qv::loop::window_handle window_ = nullptr;
};

}  // namespace hostbase
