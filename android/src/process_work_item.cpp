#include "android/process_work_item.h"

#include "android/child_process.h"
#include "qv/text.h"

namespace tiv::android {

std::int32_t ProcessOperImp::Run(void* parameter) {
  const auto& d = *static_cast<ProcessOperData*>(parameter);
  auto child = child_process::start(qv::text::utf8_to_wide(d.command_line), process_options{});
  if (!child) return hostbase::kWorkFail;
  if (!child->wait(d.timeout_ms < 0 ? -1 : d.timeout_ms)) {
    // Ended at its limit: whatever code the ending gives it, the command did not succeed.
    child->terminate();
    child->wait(-1);
    return hostbase::kWorkFail;
  }
  return child->exit_code() == 0 ? hostbase::kWorkOk : hostbase::kWorkFail;
}

std::int32_t QueueProcess(const std::string& command_line, std::int32_t timeout_ms,
                          hostbase::WorkItemCompletion completion) {
  ProcessOperData d;
  d.completion = completion;
  d.command_line = command_line;
  d.timeout_ms = timeout_ms;
  return hostbase::QueueNewItem<ProcessOperImp>(std::move(d));
}

}  // namespace tiv::android
