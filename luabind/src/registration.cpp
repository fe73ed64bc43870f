// The native Lua classes and global objects, registered in a fixed order that the UI package
// may depend on. Each entry is added here, in its place, by the module that implements it.
#include "luabind/registration.h"

namespace luabind {

void RegisterGlobal(QVLRT_ENV env, const char* obj_name, const char* class_name,
                    const QVLRT_METHOD* methods, QVLRT_FACTORY factory) {
  if (!env) return;
  QVLRT_GLOBAL_OBJ desc{};
  desc.factory = factory;
  desc.user = 0;
  desc.obj_name = obj_name;
  desc.class_name = class_name;
  desc.methods = methods;
  QVLRT_RegisterGlobalObj(env, desc);
}

void RegisterClass(QVLRT_ENV env, const char* class_name, const QVLRT_METHOD* methods) {
  if (!env) return;
  QVLRT_RegisterClass(env, class_name, methods, 0, 0);
}

ModuleRegistrations& Modules() {
  static ModuleRegistrations m;
  return m;
}

void RegisterLuaObjects(QVLRT_ENV env) {
  if (!env) return;
  const ModuleRegistrations& m = Modules();
  // Order of the full list: the filesystem utilities, the HTTP classes and factories,
  // "AppHelp.Object", "Device.Manager", "AndroidCon.Manager", "Driver.Manager",
  // "Socket.Manager.Class", "GetFile.Manager.Class", "ClipBoardData.Manager",
  // "DataReport.Manager", then:
  if (m.download_manager) m.download_manager(env);
  // then "IconManager.Manager", then:
  RegisterWin32Shell(env);
  // then "Tray.Manager", "HttpRequest.Manager", "SendFile.Manager.Class", "DeviceInfo.Class",
  // "LuaDispatchFactory", "LuaDispatch.Class", "LuaAsyncSocketFactory", then:
  if (m.app_taocan_manager) m.app_taocan_manager(env);
  // then "AsyncProcess.Manager", "DirCopy.Manager.Class", "Qorvan.UIEngine.DragDropShell",
  // "AsyncGetURLLocate.Manager".
}

}  // namespace luabind
