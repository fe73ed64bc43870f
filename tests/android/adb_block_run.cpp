// adb_block_run OUT PROGRAM [ARG...]: runs PROGRAM (the client front) with its arguments as the
// runner does, with an output block of its own named in TIVOREL_ADB_BLOCK, then writes what the
// block holds to the file OUT and exits with PROGRAM's exit code (250 when it could not start,
// 251 when it did not end by itself).
#include "android/child_process.h"
#include "qv/command_line.h"
#include "qv/share_memory.h"
#include "qv/text.h"
#include "test_env.h"

#include <cstdio>
#include <cstring>
#include <string>

using qv::win32::multiprocess::share_memory;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: adb_block_run OUT PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  const std::string name = "TivorelAdbBlockRun" + std::to_string(tiv::android::test::process_number());
  share_memory block;
  if (!block.open(name.c_str(), false)) {
    std::fputs("adb_block_run: cannot create the output block\n", stderr);
    return 2;
  }
  std::wstring line = L"\"" + qv::text::utf8_to_wide(argv[2]) + L"\"";
  for (int i = 3; i < argc; ++i) line += L" " + qv::cmdline::quote_argument(qv::text::utf8_to_wide(argv[i]));
  tiv::android::process_options options;
  options.environment.emplace_back(L"TIVOREL_ADB_BLOCK", qv::text::utf8_to_wide(name));
  int code = 250;
  std::wstring why;
  if (auto p = tiv::android::child_process::start(line, options, &why)) {
    // The test's own time-out ends a command that hangs; this bound only keeps a stray one
    // from outliving it.
    if (!p->wait(600000)) {
      p->terminate();
      p->wait(-1);
      code = 251;
    } else {
      code = p->exit_code();
    }
  } else {
    std::fprintf(stderr, "adb_block_run: %s\n", qv::text::wide_to_utf8(why).c_str());
  }
  block.lock();
  const char* data = static_cast<const char*>(block.data());
  const std::string text(data, strnlen(data, block.size()));
  block.unlock();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) return 2;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return code;
}
