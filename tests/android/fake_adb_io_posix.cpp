#include "fake_adb_io.h"

void binary_standard_streams() {}
