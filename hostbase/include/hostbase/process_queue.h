// The process work item as the base layer sees it. Running a child process belongs to a service
// module above this layer; start-up hands its queue function in once, and the other modules
// (the shell functions) queue processes through here.
#pragma once

#include "hostbase/thread_pool.h"

#include <cstdint>
#include <string>

namespace hostbase {

// Queues a work item that runs the command line (UTF-8) hidden to its end, ended at timeout_ms
// (-1: no limit); its result is kWorkOk only when the child exited with code 0. Returns the id.
using ProcessQueue = std::int32_t (*)(const std::string& command_line, std::int32_t timeout_ms,
                                      WorkItemCompletion completion);

// Set once at start-up (before any work is queued); null removes it.
void SetProcessQueue(ProcessQueue queue);

// Queues through the function set; without one, the item still takes an id and completes with
// kWorkFail, so that a caller waiting for its completion is not left waiting.
std::int32_t QueueProcessItem(const std::string& command_line, std::int32_t timeout_ms,
                              WorkItemCompletion completion);

}  // namespace hostbase
