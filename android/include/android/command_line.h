// The command-line rules of the ADB runner live in corelib, where the desktop's process starts
// use them too; these names keep the runner's code as it is.
#pragma once

#include "qv/command_line.h"

namespace tiv::android {

using qv::command_line_tail;
using qv::quote_argument;
using qv::split_command_line;

}  // namespace tiv::android
