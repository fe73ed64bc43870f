#include "system_facts.h"

#include <windows.h>

namespace shell_test {

uptime_ms system_uptime() {
  const std::uint64_t now = ::GetTickCount64();
  return {now, now};
}

// 32-bit code on a system whose own architecture is 64-bit.
bool runs_under_wow64() {
  if (sizeof(void*) != 4) return false;
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 || info.wProcessorArchitecture == 12;
}

}  // namespace shell_test
