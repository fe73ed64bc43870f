#include "desktop/log.h"

#include "hostbase/path_manager.h"
#include "qv/path.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>

namespace desktop {

namespace {

std::atomic<UiLogWriter> g_ui_log{nullptr};

// Names from archives may hold control characters; one line stays one line.
std::string one_line(const std::string& line) {
  std::string clean = line;
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return clean;
}

}  // namespace

void SetUiLogWriter(UiLogWriter writer) { g_ui_log.store(writer); }

void LogLineForUi(const std::string& line) {
  LogLine(line);
  if (UiLogWriter writer = g_ui_log.load()) writer(one_line(line));
}

void LogLine(const std::string& line) {
  const std::string clean = one_line(line);
  static std::mutex m;
  std::lock_guard<std::mutex> lock(m);
  std::fprintf(stderr, "[desktop] %s\n", clean.c_str());
  std::fflush(stderr);
  // The program's log, where the engine writes its errors too.
  const std::wstring dir = hostbase::GetTempDirectory();
  if (dir.empty()) return;
  std::ofstream log(qv::path::to_fs_path(qv::path::to_native(dir + L"engine.log")),
                    std::ios::binary | std::ios::app);
  log << "[desktop] " << clean << "\n";
}

}  // namespace desktop
