// A stand-in for the stock ADB client in tests: it follows a small script given as arguments
// and prints canned text, so that the runner and the client front can be tried without a device.
//   out TEXT | err TEXT     write TEXT to standard output / error (flushed at once)
//   hex HEX                 write raw bytes to standard output
//   repeat N TEXT           write TEXT N times to standard output
//   repeathex N HEX         write raw bytes N times to standard output
//   args                    write every remaining argument as [arg]
//   env NAME                write the value of an environment variable (or <unset>)
//   sleep MS | forever      pause, or never end
//   hold PATH               pause while the file PATH exists
//   touch PATH              create a file
//   pidfile PATH            create a file holding this process's id (whole, or not at all)
//   waitfile PATH           pause until a file exists
//   flood TEXT              write a few kilobytes of TEXT to standard output every millisecond
//                           until a write fails
//   spawn N STEP...         start a copy of this program with the next N arguments as its
//                           steps, sharing standard output and error, and go on without waiting
//   ignoreterm              ignore the polite request to end (SIGTERM)
//   exit CODE               end with that code
// Called like the stock client instead ("-s SERIAL forward tcp:1 tcp:2", "devices", ...), it
// prints the environment variable FAKE_ADB_REPLY_<command> ("-" written "_"), where "%ARGS%"
// stands for all its arguments as [arg][arg]..., and exits with 0.
#include "fake_adb_io.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

void put(std::FILE* f, const std::string& s) {
  std::fwrite(s.data(), 1, s.size(), f);
  std::fflush(f);
}

bool is_step(const std::string& s) {
  static const char* const steps[] = {"out",     "err",   "hex",        "repeathex", "repeat",
                                      "args",    "env",   "sleep",      "forever",   "hold",
                                      "touch",   "pidfile", "waitfile", "flood",     "spawn",
                                      "exit",    "ignoreterm"};
  for (const char* step : steps) {
    if (s == step) return true;
  }
  return false;
}

int reply_like_adb(int argc, char** argv) {
  int i = 1;
  while (i < argc && std::string(argv[i]) == "-s") i += 2;
  std::string command = i < argc ? argv[i] : "";
  for (char& c : command) {
    if (c == '-') c = '_';
  }
  const char* reply = std::getenv(("FAKE_ADB_REPLY_" + command).c_str());
  std::string text = reply ? reply : "";
  std::string all;
  for (int k = 1; k < argc; ++k) all += "[" + std::string(argv[k]) + "]";
  const std::size_t at = text.find("%ARGS%");
  if (at != std::string::npos) text.replace(at, 6, all);
  put(stdout, text);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  binary_standard_streams();
  if (argc > 1 && !is_step(argv[1])) return reply_like_adb(argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string cmd = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (cmd == "out") {
      put(stdout, next());
    } else if (cmd == "err") {
      put(stderr, next());
    } else if (cmd == "hex") {
      const std::string hex = next();
      std::string bytes;
      for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
      }
      put(stdout, bytes);
    } else if (cmd == "repeathex") {
      const long n = std::atol(next().c_str());
      const std::string hex = next();
      std::string unit, all;
      for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
        unit.push_back(static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
      }
      for (long k = 0; k < n; ++k) all += unit;
      put(stdout, all);
    } else if (cmd == "repeat") {
      const long n = std::atol(next().c_str());
      const std::string text = next();
      std::string all;
      for (long k = 0; k < n; ++k) all += text;
      put(stdout, all);
    } else if (cmd == "args") {
      std::string all;
      while (i + 1 < argc) all += "[" + std::string(argv[++i]) + "]";
      put(stdout, all);
    } else if (cmd == "env") {
      const char* v = std::getenv(next().c_str());
      put(stdout, v ? v : "<unset>");
    } else if (cmd == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(next().c_str())));
    } else if (cmd == "forever") {
      for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    } else if (cmd == "hold") {
      const std::string path = next();
      while (std::ifstream(path).good()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else if (cmd == "touch") {
      std::ofstream(next()) << "x";
    } else if (cmd == "pidfile") {
      const std::string path = next();
      { std::ofstream(path + ".tmp") << own_process_id(); }
      std::rename((path + ".tmp").c_str(), path.c_str());
    } else if (cmd == "waitfile") {
      const std::string path = next();
      while (!std::ifstream(path).good()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else if (cmd == "flood") {
      std::string text = next();
      if (text.empty()) text = "y";
      while (text.size() < 4096) text += text;
      while (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return 0;
    } else if (cmd == "spawn") {
      const long n = std::atol(next().c_str());
      std::vector<std::string> steps;
      for (long k = 0; k < n && i + 1 < argc; ++k) steps.push_back(argv[++i]);
      if (!start_copy(steps)) {
        put(stderr, "fake_adb: cannot start a copy\n");
        return 98;
      }
    } else if (cmd == "ignoreterm") {
      std::signal(SIGTERM, SIG_IGN);
    } else if (cmd == "exit") {
      return std::atoi(next().c_str());
    } else {
      put(stderr, "fake_adb: unknown step " + cmd + "\n");
      return 99;
    }
  }
  return 0;
}
