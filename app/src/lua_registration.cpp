// The registration list. Only the start-up code knows every module, so the list lives here;
// an object joins it, in its place, once its module implements it.
#include "app/lua_registration.h"

#include "android/lua_android_connect_manager.h"
#include "android/lua_async_process.h"
#include "android/lua_device_manager.h"
#include "android/lua_driver_manager.h"
#include "desktop/app_help.h"
#include "desktop/icon_imager.h"
#include "desktop/shell_objects.h"
#include "desktop/win32_shell.h"
#include "device/lua_file_transfer.h"
#include "device/lua_socket_manager.h"
#include "luabind/lua_dispatch.h"
#include "luabind/registration.h"
#include "store/netfs/lua_net_fs.h"
#include "store/lua_catalogue.h"
#include "store/lua_objects.h"

namespace app {

void RegisterLuaObjects(QVLRT_ENV env) {
  if (!env) return;
  store::RegisterDirUtility(env);    // "qv.filesystem.dir_utility"
  store::RegisterDiskUtility(env);   // "qv.filesystem.disk_utility"
  store::RegisterFileUtility(env);   // "qv.filesystem.file_utility"
  store::RegisterPathUtility(env);   // "qv.filesystem.path_utility", "qv.pathsystem.path_utility"
  store::RegisterAsynHttp(env);      // "qv.win32.net.asyn_http" and its factory
  store::RegisterAsynHttpFile(env);  // "qv.win32.net.asyn_http_file" and its factory
  desktop::RegisterAppHelp(env);       // "AppHelp.Object"
  RegisterDeviceManager(env);          // "Device.Manager"
  RegisterAndroidConnectManager(env);  // "AndroidCon.Manager"
  tiv::android::RegisterDriverManager(env);  // "Driver.Manager"
  device::RegisterSocketManagerClass(env);  // "Socket.Manager.Class"
  device::RegisterGetFileClass(env);        // "GetFile.Manager.Class"
  desktop::RegisterClipboard(env);      // "ClipBoardData.Manager"
  store::RegisterDataReport(env);       // "DataReport.Manager"
  store::RegisterDownloadManager(env);  // "DownloadManger.Manager"
  desktop::RegisterIconManager(env);    // "IconManager.Manager"
  desktop::RegisterWin32Shell(env);  // "Win32Shell.Object"
  desktop::RegisterTray(env);        // "Tray.Manager"
  store::RegisterHttpRequest(env);     // "HttpRequest.Manager"
  device::RegisterSendFileClass(env);  // "SendFile.Manager.Class"
  RegisterDeviceInfoClass(env);        // "DeviceInfo.Class"
  luabind::RegisterLuaDispatchFactory(env);  // "LuaDispatchFactory"
  luabind::RegisterLuaDispatchClass(env);    // "LuaDispatch.Class"
  device::RegisterAsyncSocketFactory(env);  // "LuaAsyncSocketFactory"
  store::RegisterAppTaocanManager(env);     // "AppTaocanManager.Manager"
  tiv::android::RegisterAsyncProcessManager(env);  // "AsyncProcess.Manager"
  device::RegisterDirCopyClass(env);                // "DirCopy.Manager.Class"
  desktop::RegisterDragDropShell(env);  // "Qorvan.UIEngine.DragDropShell"
  store::RegisterAsyncGetURLLocate(env);  // "AsyncGetURLLocate.Manager"
}

}  // namespace app
