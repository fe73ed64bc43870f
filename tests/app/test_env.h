#pragma once

// Sets (or, with an empty value, clears) an environment variable of this process.
void set_test_env(const char* name, const char* value);
