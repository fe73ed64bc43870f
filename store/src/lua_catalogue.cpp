#include "store/lua_catalogue.h"

#include <memory>

#include "luabind/registration.h"
#include "store/data_report.h"
#include "store/http_request.h"
#include "store/url_locate.h"

namespace store {
namespace {

struct objects {
  std::unique_ptr<CLuaSubHttpRequest> http;
  std::unique_ptr<CLuaDataReport> report;
  std::unique_ptr<CLuaAsyncGetURLLocate> locate;
  bool released = false;
};

objects& state() {
  static objects o;
  return o;
}

template <typename T>
void* make(std::unique_ptr<T>& slot) {
  if (!slot && !state().released) slot = std::make_unique<T>();
  return slot.get();
}

void* http_factory(std::uintptr_t) { return make(state().http); }
void* report_factory(std::uintptr_t) { return make(state().report); }
void* locate_factory(std::uintptr_t) { return make(state().locate); }

}  // namespace

void RegisterHttpRequest(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, CLuaSubHttpRequest::kObjectName, CLuaSubHttpRequest::kClassName,
                          CLuaSubHttpRequest::methods(), &http_factory);
}

void RegisterDataReport(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, CLuaDataReport::kObjectName, CLuaDataReport::kClassName,
                          CLuaDataReport::methods(), &report_factory);
}

void RegisterAsyncGetURLLocate(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, CLuaAsyncGetURLLocate::kObjectName,
                          CLuaAsyncGetURLLocate::kClassName, CLuaAsyncGetURLLocate::methods(),
                          &locate_factory);
}

void release_catalogue_objects() {
  objects& o = state();
  o.released = true;
  o.locate.reset();
  o.report.reset();
  o.http.reset();
}

}  // namespace store
