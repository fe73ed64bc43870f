// "tivorel --version": the build's one version number, printed by the real host, which then
// ends without starting anything: no user interface, no hand-over to a serving instance.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "hostbase/profile.h"
#include "spawn.h"
#include "test_env.h"
#include "tivorel_version.h"

#include "qv/share_memory.h"
#include "qv/text.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kVersionLine = std::string("Tivorel ") + TIVOREL_VERSION + "\n";

bool all_zero(qv::win32::multiprocess::share_memory& b) {
  const auto* d = static_cast<const unsigned char*>(b.data());
  for (std::size_t i = 0; i < b.size(); ++i)
    if (d[i] != 0) return false;
  return true;
}

}  // namespace

// With an instance serving, a start without the switch hands its command line over; with it,
// the host prints the version and hands nothing over (it never reaches start-up).
TEST(VersionSwitch, PrintsTheVersionAndNeverReachesStartUp) {
  const std::string scope =
      "versiontest" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
  set_test_env("TIVOREL_OBJECT_SCOPE", scope.c_str());
  qv::win32::multiprocess::share_memory serving;
  ASSERT_TRUE(serving.open(app::kInstanceBlockName, false));

  const struct {
    std::vector<std::string> args;
    bool version;
  } cases[] = {
      {{"--version"}, true},
      {{"--version", "more"}, true},   // the switch decides; the rest is not looked at
      {{"first", "--version"}, false},  // only as the first argument
      {{"--Version"}, false},
      {{"-version"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
    std::memset(serving.data(), 0, serving.size());
    std::string out;
    EXPECT_EQ(run_program(TIVOREL_HOST_PATH, c.args, &out), 0);
    if (c.version) {
      EXPECT_EQ(out, kVersionLine);
      EXPECT_TRUE(all_zero(serving)) << "the host went on to hand its command line over";
    } else {
      EXPECT_EQ(out, "");
      EXPECT_FALSE(all_zero(serving)) << "a normal start was taken for the version switch";
    }
  }
  set_test_env("TIVOREL_OBJECT_SCOPE", "");
}

// The program folder's config.ini carries the same number as "appver".
TEST(VersionSwitch, StagedConfigurationHasTheSameVersion) {
  std::string host = TIVOREL_HOST_PATH;
  const std::string ini = host.substr(0, host.find_last_of("/\\") + 1) + "Profiles/config.ini";
  std::ifstream f(ini, std::ios::binary);
  ASSERT_TRUE(f) << ini;
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(hostbase::ParseProfileString(qv::text::utf8_to_wide(text), L"basic", L"appver",
                                         L"(none)", 9),
            qv::text::utf8_to_wide(TIVOREL_VERSION));
}
