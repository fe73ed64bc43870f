#pragma once

#include <string>
#include <vector>

// Standard output and error as raw bytes (no newline translation), so that tests compare the
// same bytes on every target.
void binary_standard_streams();

// Starts this program again with the given arguments, sharing this process's standard output
// and error, and does not wait for it. False when it cannot start.
bool start_copy(const std::vector<std::string>& args);

// This process's id.
unsigned long own_process_id();
