#include "test_env.h"

#include <cstdlib>

void set_test_env(const char* name, const char* value) { _putenv_s(name, value); }
