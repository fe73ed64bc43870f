#include "desktop/log.h"

#include "hostbase/path_manager.h"
#include "qv/path.h"

#include <cstdio>
#include <fstream>
#include <mutex>

namespace desktop {

void LogLine(const std::string& line) {
  // Names from archives may hold control characters; one line stays one line.
  std::string clean = line;
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
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
