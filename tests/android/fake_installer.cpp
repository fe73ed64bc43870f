// A stand-in for a driver installer or setup program in tests. Its exit code is the number after
// the last "_" of its own file name ("setup_7.exe" ends with 7; none: 0). It appends
// "start NAME[arg][arg]..." to the file named by FAKE_INSTALLER_LOG, waits while the file named
// by FAKE_INSTALLER_HOLD exists, then appends "end NAME" and exits.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  std::string name = argc > 0 ? argv[0] : "";
  const std::size_t sep = name.find_last_of("\\/");
  if (sep != std::string::npos) name = name.substr(sep + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
    name = name.substr(0, name.size() - 4);
  const std::size_t us = name.rfind('_');
  const int code = us == std::string::npos ? 0 : std::atoi(name.c_str() + us + 1);

  const char* log = std::getenv("FAKE_INSTALLER_LOG");
  auto append = [&](const std::string& line) {
    if (!log) return;
    std::ofstream out(log, std::ios::app | std::ios::binary);
    out << line << "\n";
  };
  std::string line = "start " + name;
  for (int i = 1; i < argc; ++i) line += "[" + std::string(argv[i]) + "]";
  append(line);
  if (const char* hold = std::getenv("FAKE_INSTALLER_HOLD")) {
    while (std::ifstream(hold).good()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  append("end " + name);
  return code;
}
