#include "thread_pool_os.h"

namespace hostbase::os {

com_apartment::com_apartment() = default;
com_apartment::~com_apartment() = default;

}  // namespace hostbase::os
