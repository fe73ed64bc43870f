// The commands the runner and the UI send, spoken directly to the ADB server: devices,
// start-server, kill-server, get-state, forward tcp:A tcp:B, shell CMD..., install [-r] PATH,
// uninstall PACKAGE (with or without -s SERIAL). What they print and their exit codes are
// those of the stock client for the same server answers. Anything else, and any command when no
// server answers (the stock client then starts one), is left to the stock client.
#pragma once

#include "console.h"

#include <optional>
#include <string>
#include <vector>

namespace tivorel_help {

struct native_settings {
  int port = 5037;            // ANDROID_ADB_SERVER_PORT
  std::string env_serial;     // ANDROID_SERIAL: the device when no -s is given
  int answer_ms = 30000;      // how long the server may take to answer a request
  int slice_ms = 1000;        // how long the device side may stay silent before it is checked
};

// The server's version this client speaks: that of the stock clients of these years ("adb
// version" 1.0.41). Like the stock client, it asks the server's version before each command;
// a server of any other version is the stock client's to restart, so the command goes to it.
constexpr int kServerVersion = 41;

// The server port from ANDROID_ADB_SERVER_PORT's value (empty: 5037); 0 when the value is not a
// port, which the stock client then reports.
int server_port_from(const std::string& value);

// Runs args (this program's arguments, UTF-8) and returns the exit code; nullopt, having
// printed nothing, when the stock client must run them instead. When that is because of the
// server's version, `why` (when given) gets the words for the version found.
std::optional<int> run_native(const std::vector<std::string>& args, const native_settings& settings,
                              console& con, std::string* why = nullptr);

}  // namespace tivorel_help
