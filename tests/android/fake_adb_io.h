#pragma once
// Standard output and error as raw bytes (no newline translation), so that tests compare the
// same bytes on every target.
void binary_standard_streams();
