// Runs tools/agentsim as a child process on free loopback ports and talks to its control port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device_test {

class agent_simulator {
 public:
  explicit agent_simulator(const std::vector<std::string>& extra_args = {});
  ~agent_simulator();
  agent_simulator(const agent_simulator&) = delete;
  agent_simulator& operator=(const agent_simulator&) = delete;

  bool running() const { return pid_ > 0 && control_fd_ >= 0; }
  std::uint16_t event_port() const { return event_port_; }
  std::uint16_t command_port() const { return command_port_; }

  // Sends one JSON command line and returns the answer line ("" on failure).
  std::string control(const std::string& json);
  // Whether the answer to a command has "ok": true.
  bool control_ok(const std::string& json) { return control(json).find("\"ok\": true") != std::string::npos; }

 private:
  int pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int control_fd_ = -1;
  std::uint16_t event_port_ = 0, command_port_ = 0, control_port_ = 0;
};

}  // namespace device_test
