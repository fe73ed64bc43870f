// The names of the program's two shared blocks (qv::win32::multiprocess::share_memory): a later
// start forwards its command line through the first; the ADB client front writes what it prints
// into the second.
#pragma once

namespace hostbase {

constexpr char kInstanceBlockName[] = "TivorelMulProcess";
constexpr char kAdbBlockName[] = "TivorelAdbCommon";

}  // namespace hostbase
