#include "transfer_test_support.h"

#include <windows.h>

long transfer_test::temp_folder::pid() { return static_cast<long>(GetCurrentProcessId()); }
