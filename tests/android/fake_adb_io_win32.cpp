#include "fake_adb_io.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

void binary_standard_streams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}
