// The version switch: "tivorel --version" prints the program's version and ends the program
// before anything else starts (no user interface, no shared blocks, no second-instance hand-over).
#pragma once

#include <string>
#include <vector>

namespace app {

// True when the program's arguments (the program itself not included) ask for the version: the
// first one is "--version".
bool IsVersionRequest(const std::vector<std::wstring>& args);

// What the switch prints: "Tivorel <version>" and a line end.
std::string VersionLine();

}  // namespace app
