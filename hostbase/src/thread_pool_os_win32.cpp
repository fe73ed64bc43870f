#include "thread_pool_os.h"

#include <objbase.h>

namespace hostbase::os {

com_apartment::com_apartment() : initialised_(SUCCEEDED(::CoInitialize(nullptr))) {}

com_apartment::~com_apartment() {
  if (initialised_) ::CoUninitialize();
}

}  // namespace hostbase::os
