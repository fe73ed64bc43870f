// The national code page 936 (GBK), in which download URLs travel to the maker's servers. The
// converter itself lives in corelib, where every module can reach it.
#pragma once

#include "qv/codepage.h"

namespace store {

using qv::codepage::utf16_to_cp936;

}  // namespace store
