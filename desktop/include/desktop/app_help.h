// "AppHelp.Object" of class "AppHelp.Class": application services for the Lua code (start
// command and forwarded command lines, the exit sequence, directories, self-update, contact
// backups, text utilities, package destinations).
#pragma once

#include "qv_engine.h"

namespace desktop {

void RegisterAppHelp(QVLRT_ENV env);

// Stops the forwarded-command timer and lets every Lua listener go; called by shutdown before
// the message window goes. The object is not made again afterwards.
void ReleaseAppHelp();

}  // namespace desktop
