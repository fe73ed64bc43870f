#include "hostbase/message_window.h"

namespace hostbase {

CMessageWindow::~CMessageWindow() { Destroy(); }

bool CMessageWindow::Create(const std::wstring& name) {
  if (window_) return true;
  qv::loop::window_spec spec;
  spec.class_name = name;
  spec.title = name;
  spec.style = 0x00CF0000UL;  // WS_OVERLAPPEDWINDOW
  spec.x = 0;
  spec.y = 0;
  spec.width = 600;
  spec.height = 800;
  spec.class_icon_and_cursor = true;
  spec.redraw_styles = true;
  spec.dark_grey_background = true;
  window_ = qv::loop::create_window(spec, &CMessageWindow::WindowProc, this);
  return window_ != nullptr;
}

void CMessageWindow::Destroy() {
  if (!window_) return;
  for (const auto& t : timers_) qv::loop::kill_timer(window_, t.first);
  timers_.clear();
  listener_messages_.clear();
  listeners_.clear();
  qv::loop::destroy_window(window_);
  window_ = nullptr;
}

std::uint32_t CMessageWindow::AddDeviceChangeListener(WindowMessageListener* listener) {
  const std::uint32_t id = ++last_listener_id_;
  listeners_[qv::loop::kWmDeviceChange].push_back({id, listener, 1, true});
  listener_messages_[id] = qv::loop::kWmDeviceChange;
  return id;
}

bool CMessageWindow::RemoveListener(std::uint32_t id) {
  auto m = listener_messages_.find(id);
  if (m == listener_messages_.end()) return false;
  auto l = listeners_.find(m->second);
  if (l == listeners_.end()) return false;
  auto& vec = l->second;
  for (auto it = vec.begin(); it != vec.end(); ++it) {
    if (it->id == id) {
      vec.erase(it);  // the message's vector stays, also when empty
      listener_messages_.erase(m);
      return true;
    }
  }
  return false;
}

std::uint32_t CMessageWindow::StartTimer(TimerEntry entry) {
  const std::uint32_t id = ++last_timer_id_;
  timers_[id] = entry;
  qv::loop::set_timer(window_, id, kTimerPeriodMs);
  return id;
}

std::uint32_t CMessageWindow::SetObjectTimer(TimerListener* listener) {
  return StartTimer({1, listener, nullptr, 0});
}

std::uint32_t CMessageWindow::SetFunctionTimer(TimerFunction function, std::uintptr_t parameter) {
  return StartTimer({2, nullptr, function, parameter});
}

void CMessageWindow::RemoveTimer(std::uint32_t id) {
  qv::loop::kill_timer(window_, id);
  timers_.erase(id);
}

bool CMessageWindow::PostHandlerMessage(MessageHandler* handler, qv::loop::lparam_t payload) {
  return qv::loop::post_message(window_, kMsgHandler,
                                reinterpret_cast<qv::loop::wparam_t>(handler), payload);
}

qv::loop::lresult_t CMessageWindow::WindowProc(void* self, qv::loop::window_handle w, unsigned msg,
                                               qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
  auto* mw = static_cast<CMessageWindow*>(self);
  if (msg == qv::loop::kWmTimer) {
    auto it = mw->timers_.find(static_cast<std::uint32_t>(wp));
    if (it == mw->timers_.end()) return 0;
    // Read before the call: the target may remove its own timer while it runs.
    const TimerEntry entry = it->second;
    if (entry.kind == 1 && entry.listener) {
      entry.listener->OnTimer(entry.parameter);
    } else if (entry.kind == 2 && entry.function) {
      entry.function(entry.parameter);
    }
    return 0;
  }
  if (msg == kMsgHandler) {
    auto* handler = reinterpret_cast<MessageHandler*>(wp);
    if (handler) {
      try {
        handler->OnMessage(lp);
      } catch (...) {
        // A failing handler must not take the UI thread down.
      }
    }
    return 0;
  }
  auto it = mw->listeners_.find(msg);
  if (it == mw->listeners_.end()) return qv::loop::default_window_proc(w, msg, wp, lp);
  WindowMessage record{msg, wp, lp, 0};
  // A snapshot, so that a listener may remove itself (or others) while it is called; a listener
  // removed by an earlier one in this round is not called.
  const std::vector<ListenerEntry> snapshot = it->second;
  for (const ListenerEntry& e : snapshot) {
    if (!mw->listener_messages_.count(e.id)) continue;
    if (e.kind == 1 && e.target) e.target->OnWindowMessage(record);
    if (!mw->window_) break;  // destroyed by a listener
  }
  return 0;
}

}  // namespace hostbase
