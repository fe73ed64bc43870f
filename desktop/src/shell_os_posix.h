// Seams of the POSIX file functions behind "Win32Shell.Object", for tests that must put a file
// in the way at the worst moment or stand for a file system that lacks a call.
#pragma once

#include <string>

namespace desktop::os::testing {

// Called just before each call that puts a moved file or folder at its new path, with that
// path. Null in the program.
extern void (*before_move)(const std::string& target);
// True stands for a file system without an atomic rename that refuses to replace.
extern bool no_atomic_rename;

}  // namespace desktop::os::testing
