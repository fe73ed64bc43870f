// The process's COM module object (Windows; there is no COM module on Linux). It counts module
// locks and creates the system's global interface table on the first request. Start-up and
// shutdown do not call it.
//
// The table is how an interface made on the UI thread, such as a LuaDispatch, reaches another
// apartment: a thread there takes the pointer the table hands out and its calls are marshalled
// back to the UI thread's message loop, where Lua runs. The bare pointer itself refuses calls
// from other threads.
#pragma once

#include <windows.h>

#include <objidl.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace app {

class CAppModule {
 public:
  CAppModule() = default;
  CAppModule(const CAppModule&) = delete;
  CAppModule& operator=(const CAppModule&) = delete;

  // The count after the change; an unlock at 0 leaves it at 0.
  LONG Lock();
  LONG Unlock();
  LONG GetLockCount() const { return locks_.load(); }

  // The global interface table with a reference for the caller, created on the first request
  // (COM must be initialised on the calling thread). Any thread may ask.
  HRESULT GetGITPtr(IGlobalInterfaceTable** out);
  // Lets the module's reference to the table go; a later request creates it again.
  void Term();

 private:
  struct releaser {
    void operator()(IUnknown* p) const { p->Release(); }
  };
  std::atomic<LONG> locks_{0};
  std::mutex git_mutex_;
  std::unique_ptr<IGlobalInterfaceTable, releaser> git_;
};

// The module object of the process.
extern CAppModule Application;

}  // namespace app
