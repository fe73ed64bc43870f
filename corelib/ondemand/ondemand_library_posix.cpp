#include "ondemand_library_posix.h"

#include <dlfcn.h>

#include <cstdio>

namespace qv::ondemand {

void* library::symbol(const char* name) {
  std::call_once(once_, [this] {
    handle_ = ::dlopen(soname_, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* why = ::dlerror();
      std::fprintf(stderr, "cannot load %s: %s\n", soname_, why ? why : "unknown error");
    }
  });
  return handle_ ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace qv::ondemand
