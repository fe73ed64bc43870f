// What the system says about itself, read in the test independently of the code under test.
#pragma once

#include <cstdint>

namespace shell_test {

// The milliseconds since the system started, as an interval holding the present moment (the
// system may report them in coarser steps).
struct uptime_ms {
  std::uint64_t low;
  std::uint64_t high;
};
uptime_ms system_uptime();

// Whether this test program runs as 32-bit code on 64-bit Windows (false elsewhere).
bool runs_under_wow64();

}  // namespace shell_test
