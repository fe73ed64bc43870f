// What Windows reads of the executables' version resources, and "--version" from a console:
// both through the helper version_probe, a separate console program.
#include <gtest/gtest.h>

#include "spawn.h"
#include "tivorel_version.h"

#include <map>
#include <sstream>
#include <string>

namespace {

// A Unix path of the build as Wine's Z: drive shows it; a Windows path unchanged.
std::string windows_path(std::string p) {
  if (p.empty() || p[0] != '/') return p;
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}

std::map<std::string, std::string> version_resource(const std::string& file) {
  std::string out;
  EXPECT_EQ(run_program(TIVOREL_VERSION_PROBE_PATH, {"resource", windows_path(file)}, &out), 0)
      << out;
  std::map<std::string, std::string> fields;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

}  // namespace

TEST(VersionResource, BothExecutablesCarryTheBuildVersion) {
  const struct {
    const char* path;
    const char* file_name;
    const char* description;
  } programs[] = {
      {TIVOREL_HOST_PATH, "tivorel.exe", "Tivorel"},
      {TIVOREL_HELP_PATH, "tivorel_help.exe", "Tivorel ADB client"},
  };
  for (const auto& p : programs) {
    SCOPED_TRACE(p.file_name);
    auto fields = version_resource(p.path);
    const std::map<std::string, std::string> want = {
        {"FixedFileVersion", TIVOREL_VERSION_FOUR},
        {"FixedProductVersion", TIVOREL_VERSION_FOUR},
        {"FileVersion", TIVOREL_VERSION},
        {"ProductVersion", TIVOREL_VERSION},
        {"ProductName", "Tivorel"},
        {"FileDescription", p.description},
        {"OriginalFilename", p.file_name},
        {"CompanyName", "Qorvan"},
    };
    for (const auto& [name, value] : want) EXPECT_EQ(fields[name], value) << name;
  }
}

// Started from a console with no standard output of its own (how Windows starts a GUI program
// from cmd), the host writes the version into that console.
TEST(VersionSwitch, PrintsIntoTheConsoleItWasStartedFrom) {
  std::string out;
  EXPECT_EQ(run_program(TIVOREL_VERSION_PROBE_PATH,
                        {"console", windows_path(TIVOREL_HOST_PATH), "--version"}, &out),
            0)
      << out;
  EXPECT_EQ(out, std::string("Tivorel ") + TIVOREL_VERSION + "\n");
}
