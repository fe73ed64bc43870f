// What the client front needs from the operating system besides starting a process.
#pragma once

#include <string>
#include <vector>

namespace tivorel_help::os {

// This program's arguments after its own name, as one command line that splits (by the Windows
// rules) into exactly the arguments it was given. On Windows: the command line as it came.
std::wstring own_arguments(int argc, char** argv);

// This program's arguments after its own name, UTF-8, as the stock client would see them.
std::vector<std::string> arguments(int argc, char** argv);

// An environment variable, empty when unset.
std::wstring environment_variable(const wchar_t* name);

// While held, a polite request to end (SIGTERM on POSIX) waits, so that the program never ends
// holding the block's lock; a POSIX semaphore, unlike a Windows mutex, is not freed by the
// end of its owner. Nothing to do on Windows.
void hold_termination(bool hold);

// Names under which the stock client may lie beside this program.
const wchar_t* const* stock_client_names();

}  // namespace tivorel_help::os
