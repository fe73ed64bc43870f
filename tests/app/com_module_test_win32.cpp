// The COM module object: its lock count, its global interface table, and a LuaDispatch reached
// from another apartment through that table, whose calls come back to this (the UI) thread.
#include <gtest/gtest.h>

#include "com_module_win32.h"
#include "luabind/lua_dispatch.h"
#include "qv_engine.h"

#include <lauxlib.h>

#include <thread>

namespace {

// COM in this thread's single-threaded apartment for one test.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  bool ok() const { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

lua_State* lua() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

bool run(const char* code) {
  lua_State* L = lua();
  return luaL_loadstring(L, code) == 0 && QVLRT_LuaCall(L, 0, 0, "test") == 0;
}

TEST(ComModule, LockCountNeverGoesBelowZero) {
  app::CAppModule module;
  EXPECT_EQ(module.GetLockCount(), 0);
  EXPECT_EQ(module.Lock(), 1);
  EXPECT_EQ(module.Lock(), 2);
  EXPECT_EQ(module.Unlock(), 1);
  EXPECT_EQ(module.Unlock(), 0);
  EXPECT_EQ(module.Unlock(), 0);
  EXPECT_EQ(module.GetLockCount(), 0);
  EXPECT_EQ(app::Application.GetLockCount(), 0);  // start-up does not touch the process's one
}

TEST(ComModule, GlobalInterfaceTableIsCreatedOnceOnRequest) {
  ComApartment com;
  ASSERT_TRUE(com.ok());
  app::CAppModule module;
  IGlobalInterfaceTable* first = nullptr;
  IGlobalInterfaceTable* second = nullptr;
  ASSERT_EQ(module.GetGITPtr(&first), S_OK);
  ASSERT_EQ(module.GetGITPtr(&second), S_OK);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  second->Release();
  first->Release();
  EXPECT_EQ(module.GetGITPtr(nullptr), E_POINTER);
  module.Term();
}

TEST(ComModule, DispatchFromAnotherApartmentIsCalledOnTheUiThread) {
  ComApartment com;
  ASSERT_TRUE(com.ok());
  QVLRT_ENV env = QVLRT_GetEnv(0);
  luabind::RegisterLuaDispatchFactory(env);
  luabind::RegisterLuaDispatchClass(env);
  ASSERT_TRUE(run("git_d = LuaDispatchFactory:CreateLuaDispatch() "
                  "git_d:RegisterFunction('minus', function(a, b) return a - b end)"));
  lua_State* L = lua();
  lua_getglobal(L, "git_d");
  lua_getfield(L, -1, "GetDispatch");
  lua_pushvalue(L, -2);
  ASSERT_EQ(QVLRT_LuaCall(L, 1, 1, "test"), 0);
  auto* dispatch = static_cast<IDispatch*>(lua_touserdata(L, -1));
  lua_pop(L, 2);
  ASSERT_NE(dispatch, nullptr);

  IGlobalInterfaceTable* git = nullptr;
  ASSERT_EQ(app::Application.GetGITPtr(&git), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(git->RegisterInterfaceInGlobal(dispatch, IID_IDispatch, &cookie), S_OK);

  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(done, nullptr);
  HRESULT bare = S_OK, fetched = E_FAIL, looked_up = E_FAIL, invoked = E_FAIL;
  VARIANT result;
  VariantInit(&result);
  std::thread worker([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    OLECHAR name[] = L"minus";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    bare = dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id);  // not marshalled: refused
    IDispatch* proxy = nullptr;
    fetched = git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&proxy));
    if (SUCCEEDED(fetched) && proxy) {
      looked_up = proxy->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
      VARIANT args[2];  // the script's minus(10, 2): the last argument first
      VariantInit(&args[0]);
      VariantInit(&args[1]);
      args[0].vt = VT_I4;
      args[0].lVal = 2;
      args[1].vt = VT_I4;
      args[1].lVal = 10;
      DISPPARAMS params{args, nullptr, 2, 0};
      invoked = proxy->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
      proxy->Release();
    }
    CoUninitialize();
    SetEvent(done);
  });
  // The UI thread's message loop is where the marshalled calls arrive.
  while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  worker.join();
  CloseHandle(done);
  git->RevokeInterfaceFromGlobal(cookie);
  git->Release();
  app::Application.Term();

  EXPECT_EQ(bare, RPC_E_WRONG_THREAD);
  EXPECT_EQ(fetched, S_OK);
  EXPECT_EQ(looked_up, S_OK);
  EXPECT_EQ(invoked, S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_EQ(result.dblVal, -8.0);  // Lua saw (2, 10)
  VariantClear(&result);
  run("git_d = nil collectgarbage('collect')");
}

}  // namespace
