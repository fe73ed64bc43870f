#include "test_env.h"

#include <cstdlib>

void set_test_env(const char* name, const char* value) {
  if (*value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}
