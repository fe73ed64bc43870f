// A thread-pool work item that runs one command line hidden to its end and reports only
// success (the child exited with 0) or failure.
#pragma once

#include "hostbase/thread_pool.h"

#include <cstdint>
#include <string>

namespace tiv::android {

struct ProcessOperData {
  std::int32_t id = 0;
  hostbase::WorkItemCompletion completion;
  std::string command_line;  // UTF-8
  std::int32_t timeout_ms = -1;  // -1: no limit
};

// kWorkOk when the child exited with code 0; kWorkFail when it did not start, exited with
// another code, or was still running at its limit (it is then ended).
class ProcessOperImp : public hostbase::WorkItemImp<ProcessOperData> {
 public:
  using WorkItemImp::WorkItemImp;
  std::int32_t Run(void* parameter) override;
};

// Queues the command line (UTF-8); returns the new item id.
std::int32_t QueueProcess(const std::string& command_line, std::int32_t timeout_ms,
                          hostbase::WorkItemCompletion completion);

}  // namespace tiv::android
