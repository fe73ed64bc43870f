// tivorel_help: the ADB client the runner starts. The commands the runner and the UI send
// (native_commands.h) it speaks itself to the ADB server; for the others, and whenever no server
// answers, it runs the stock ADB client with the same arguments. Either way it puts what it
// prints (what the stock client would print, standard output and error merged as through one
// pipe, UTF-8) into the runner's shared output block, NUL-terminated, under the block's mutex,
// and exits with the stock client's exit code. When the stock client is needed and cannot be
// started, the block holds one line "error: cannot run the stock ADB client NAME (why); ..."
//
//   TIVOREL_ADB_BLOCK     the block to write (default "TivorelAdbCommon")
//   TIVOREL_ADB           the stock client to run; else "adb" beside this program; else from PATH
//   TIVOREL_ADB_PROTOCOL  "0": leave every command to the stock client
//   ANDROID_ADB_SERVER_PORT, ANDROID_SERIAL  as for the stock client; with ADB_SERVER_SOCKET
//                         set, every command goes to the stock client
//
// The block is written as the output arrives, so that a client ended at its time-out still
// leaves what it had. Ending this program ends the stock client too: on Windows it runs in a
// job that closes with this process, on POSIX in this process's group, which the runner ends.
#include "client_os.h"
#include "console.h"
#include "native_commands.h"

#include "android/android_connect_manager.h"
#include "android/child_process.h"
#include "hostbase/shared_blocks.h"
#include "qv/command_line.h"
#include "qv/text.h"
#include "qv/share_memory.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using qv::win32::multiprocess::share_memory;
namespace fs = std::filesystem;

// Written into the output block when the stock client cannot be started.
constexpr const char* kNoStockClient = "cannot run the stock ADB client";
// Reading stops when the client ends; a server it left holding the pipe is not waited for.
constexpr int kReadSliceMs = 20;

std::wstring find_stock_client() {
  std::wstring configured = tivorel_help::os::environment_variable(L"TIVOREL_ADB");
  if (!configured.empty()) return configured;
  const std::wstring dir = tiv::android::executable_directory();
  for (const wchar_t* const* n = tivorel_help::os::stock_client_names(); *n; ++n) {
    std::error_code ec;
    if (fs::is_regular_file(fs::path(dir + *n), ec)) return dir + *n;
  }
  return tivorel_help::os::stock_client_names()[0];  // the system's search finds it, if anyone can
}

// The block's data area holds the text and its terminating NUL.
class output_block {
 public:
  explicit output_block(const std::string& name) { open_ = block_.open(name.c_str(), false); }

  // Writes the longest whole-character prefix of text that fits.
  void write(const std::string& text) {
    if (!open_) return;
    tivorel_help::os::hold_termination(true);
    block_.lock();
    auto* data = static_cast<char*>(block_.data());
    const std::size_t room = block_.size();
    if (data && room > 0) {
      const std::size_t n = qv::text::utf8_prefix_length(text.data(), text.size(), room - 1);
      std::memcpy(data, text.data(), n);
      data[n] = '\0';
    }
    block_.unlock();
    tivorel_help::os::hold_termination(false);
  }

  bool is_open() const { return open_; }

 private:
  share_memory block_;
  bool open_ = false;
};

void log_line(const std::string& text) {
  std::fputs(("tivorel_help: " + text + "\n").c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring block_name = tivorel_help::os::environment_variable(L"TIVOREL_ADB_BLOCK");
  output_block block(block_name.empty() ? hostbase::kAdbBlockName
                                         : qv::text::wide_to_utf8(block_name));
  if (!block.is_open()) log_line("cannot open the output block; output is dropped");

  // Why the stock client runs the command, when the server gave a reason to (its version).
  std::string handover;
  // ADB_SERVER_SOCKET names a server elsewhere, which the stock client reaches.
  if (tivorel_help::os::environment_variable(L"TIVOREL_ADB_PROTOCOL") != L"0" &&
      tivorel_help::os::environment_variable(L"ADB_SERVER_SOCKET").empty()) {
    tivorel_help::native_settings settings;
    settings.port = tivorel_help::server_port_from(
        qv::text::wide_to_utf8(tivorel_help::os::environment_variable(L"ANDROID_ADB_SERVER_PORT")));
    settings.env_serial =
        qv::text::wide_to_utf8(tivorel_help::os::environment_variable(L"ANDROID_SERIAL"));
    tivorel_help::console con([&block](const std::string& text) { block.write(text); },
                              share_memory::kDataSize + 4);
    const std::optional<int> code =
        tivorel_help::run_native(tivorel_help::os::arguments(argc, argv), settings, con, &handover);
    if (code) {
      con.flush();
      return *code;
    }
  }

  const std::wstring stock = find_stock_client();
  const std::wstring line =
      qv::cmdline::quote_argument(stock) + L" " + tivorel_help::os::own_arguments(argc, argv);

  tiv::android::process_options options;
  options.capture_output = true;
  options.end_with_owner = true;
  std::wstring why;
  auto adb = tiv::android::child_process::start(line, options, &why);
  if (!adb) {
    // The UI reads this line to tell "no client" from "no device"; it starts with "error:" as
    // the stock client's own failures do, so result tests that look for errors see one.
    const std::string missing = "error: " + std::string(kNoStockClient) + " " +
                                qv::text::wide_to_utf8(stock) + " (" + qv::text::wide_to_utf8(why) +
                                "); put it beside tivorel_help, set TIVOREL_ADB to its path, or "
                                "install it in PATH" +
                                (handover.empty() ? std::string() : "; it would restart the server: " +
                                                                        handover) +
                                "\n";
    block.write(missing);
    // Started by the runner, which says it once for all its commands; by hand, say it here.
    if (block_name.empty()) log_line(missing.substr(0, missing.size() - 1));
    return CAndroidConnectManager::kNoStockClientExitCode;
  }

  // Keeps what fits in the block (and a few bytes to find a character boundary); the rest is
  // read and dropped so that the stock client never blocks on a full pipe.
  const std::size_t keep = share_memory::kDataSize + 4;
  std::string text;
  std::string chunk;
  auto take = [&]() {
    if (chunk.empty()) return;
    if (text.size() < keep) text.append(chunk, 0, std::min(chunk.size(), keep - text.size()));
    chunk.clear();
    block.write(text);
  };
  for (;;) {
    const bool more = adb->read_output(chunk, kReadSliceMs);
    take();
    if (!more) break;
    if (adb->wait(0)) {
      adb->read_output(chunk, 0);  // what it wrote just before it ended
      take();
      break;
    }
  }
  adb->wait(-1);
  block.write(text);
  return adb->exit_code() < 0 ? 1 : adb->exit_code();
}
