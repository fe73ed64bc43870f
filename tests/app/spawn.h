// Starts a program and waits for it (up to a minute); its exit code, or -1. With `output`, the
// program's standard output is a pipe whose text ends up there.
#pragma once

#include <string>
#include <vector>

int run_program(const std::string& path, const std::vector<std::string>& args,
                std::string* output = nullptr);
