#include "transfer_test_support.h"

#include <unistd.h>

long transfer_test::temp_folder::pid() { return static_cast<long>(::getpid()); }
