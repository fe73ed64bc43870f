// Stand-ins for a shared library that the program needs only on demand: the library is opened
// at the first call of one of its functions instead of at start-up, where the dynamic loader's
// work for a library and all it depends on can cost more than everything else the program does
// before its UI package runs. Each stand-in has the real function's name and signature and
// calls the real function; where the library cannot be opened it gives the failure result the
// function itself gives (a null handle, an error code), so the caller's own error path runs.
#pragma once

#include <mutex>

namespace qv::ondemand {

class library {
 public:
  explicit library(const char* soname) : soname_(soname) {}
  library(const library&) = delete;
  library& operator=(const library&) = delete;

  // The address of the named function; null when the library or the name is missing (the
  // first failure to open is written to standard error once).
  void* symbol(const char* name);

 private:
  const char* soname_;
  std::once_flag once_;
  void* handle_ = nullptr;  // never closed: the library stays until the program ends
};

}  // namespace qv::ondemand

// The real function, looked up once; `lib()` is the translation unit's library.
#define TIV_ONDEMAND_REAL(name) \
  static const auto real = reinterpret_cast<decltype(&name)>(lib().symbol(#name))

// A stand-in returning what the real function returns, or `fail` without the library.
#define TIV_ONDEMAND(ret, name, params, args, fail) \
  extern "C" ret name params {                      \
    TIV_ONDEMAND_REAL(name);                        \
    return real ? real args : fail;                 \
  }

// A stand-in of a function that returns nothing.
#define TIV_ONDEMAND_VOID(name, params, args) \
  extern "C" void name params {               \
    TIV_ONDEMAND_REAL(name);                  \
    if (real) real args;                      \
  }
