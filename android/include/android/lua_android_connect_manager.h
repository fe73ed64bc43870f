// "AndroidCon.Manager" (class "AndroidCon.Manager.Class"): the Lua face of the ADB runner. Each
// method queues one command line, returns its id at once, and later calls the Lua function it
// was given with the tag, the id and the output's meaning for that kind of command.
#pragma once

#include "android/android_connect_manager.h"
#include "luabind/lua_event.h"
#include "qv_engine.h"

#include <map>
#include <memory>
#include <string>

class CLuaAndroidConnectManager : public AndroidConnectCallback {
 public:
  static constexpr const char* kObjectName = "AndroidCon.Manager";
  static constexpr const char* kClassName = "AndroidCon.Manager.Class";

  // The one instance Lua sees, created on first use.
  static CLuaAndroidConnectManager& Instance();

  // The runner it queues on; by default the process-wide one.
  void SetRunner(CAndroidConnectManager* runner) { runner_ = runner; }
  CAndroidConnectManager* runner() const;

  void OnResult(int id, std::wstring& output) override;

  // Queues a command of the given kind and remembers whom to call back. The listener is the
  // Lua value at listener_index; when it is not a function the result is dropped unheard.
  int Queue(lua_State* L, int kind, const std::wstring& command_line, const std::wstring& tag,
            int priority_key, int quick, int timeout_ms, int listener_index);

  void Init();
  void UnInit();
  void CancelTask(int id);
  void CancelAllTasks();

  std::size_t PendingCount() const { return pending_.size(); }

 private:
  struct PendingAdbCall {
    int kind = 0;
    std::unique_ptr<luabind::CLuaEvent> listener;
    int quick = 0;
    std::wstring tag;
  };

  CAndroidConnectManager* runner_ = nullptr;
  std::map<int, PendingAdbCall> pending_;
};

// Registers the global object with its methods.
void RegisterAndroidConnectManager(QVLRT_ENV env);
