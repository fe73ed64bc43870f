#include "native_commands.h"

#include "adb_wire.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tivorel_help {
namespace {

namespace fs = std::filesystem;
using os::io_status;

// Shell protocol v2 packet kinds (kind 0, standard input, only goes to the device).
constexpr unsigned char kShellStdout = 1;
constexpr unsigned char kShellStderr = 2;
constexpr unsigned char kShellExit = 3;
constexpr unsigned char kShellCloseStdin = 4;
// The largest shell packet we accept; a longer length is a broken stream.
constexpr std::uint32_t kMaxShellPacket = 1u << 20;
// A sync DATA packet carries at most this much.
constexpr std::size_t kSyncChunk = 64 * 1024;
// Where a pushed package waits for the package manager.
constexpr const char* kPushFolder = "/data/local/tmp/";

bool has_feature(const std::string& list, const std::string& name) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (list.compare(start, end - start, name) == 0) return true;
    start = end + 1;
  }
  return false;
}

std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

std::uint32_t from_le32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

// A word for the device's shell: single-quoted unless it is plainly safe.
std::string shell_quote(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '_' ||
          c == '-' || c == '+' || c == ':' || c == ',' || c == '@' || c == '%'))
      plain = false;
  }
  if (plain) return word;
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class session {
 public:
  session(const native_settings& s, std::string serial, console& con)
      : port_(s.port), answer_ms_(s.answer_ms), slice_ms_(s.slice_ms), serial_(std::move(serial)),
        con_(con) {}

  // A request on a fresh connection; null (result says why) unless the server said OKAY.
  std::unique_ptr<server_connection> host(const std::string& service, wire_result& result) {
    auto c = server_connection::open(port_, answer_ms_, result);
    if (!c) return nullptr;
    result = c->request(service);
    if (!result.ok()) return nullptr;
    return c;
  }

  std::string host_prefix() const {
    return serial_.empty() ? "host:" : "host-serial:" + serial_ + ":";
  }

  // A connection switched to the device and opened on service.
  std::unique_ptr<server_connection> device(const std::string& service, wire_result& result) {
    auto c = host(serial_.empty() ? "host:transport-any" : "host:transport:" + serial_, result);
    if (!c) return nullptr;
    result = c->request(service);
    if (!result.ok()) return nullptr;
    return c;
  }

  // Empty while the device is there and usable (also in recovery or sideload); else the words
  // for what happened to it.
  std::string device_trouble() {
    wire_result r;
    auto c = host(host_prefix() + "get-state", r);
    std::string state;
    if (c) r = c->read_hex_string(state);
    if (!r.ok()) {
      // Without a serial the server cannot tell which device once a second one is there; the
      // command's own stream still ends when its device goes.
      if (serial_.empty() && r.status == wire_status::fail &&
          r.message.find("more than one") != std::string::npos)
        return {};
      return r.message;
    }
    if (state == "offline" || state == "unauthorized" || state.compare(0, 14, "no permissions") == 0)
      return "device " + state;
    return {};
  }

  // Reads what the device sends; waits while the device is there. On a device that went away
  // `trouble` holds why and the result is failed.
  io_status read_some(server_connection& c, char* buf, std::size_t cap, std::size_t& got,
                      std::string& trouble) {
    for (;;) {
      const io_status s = c.read_some(buf, cap, got, slice_ms_);
      if (s != io_status::timed_out) return s;
      trouble = device_trouble();
      if (!trouble.empty()) return io_status::failed;
    }
  }

  io_status read_exact(server_connection& c, char* buf, std::size_t size, std::string& trouble) {
    while (size > 0) {
      std::size_t got = 0;
      const io_status s = read_some(c, buf, size, got, trouble);
      if (s != io_status::ok) return s;
      buf += got;
      size -= got;
    }
    return io_status::ok;
  }

  // Sends data; waits while the device is there and takes nothing.
  io_status write_all(server_connection& c, const char* data, std::size_t size,
                      std::string& trouble) {
    for (;;) {
      std::size_t sent = 0;
      const io_status s = c.write_all(data, size, sent, slice_ms_);
      if (s != io_status::timed_out) return s;
      data += sent;
      size -= sent;
      trouble = device_trouble();
      if (!trouble.empty()) return io_status::failed;
    }
  }

  // Everything the connection sends until it closes, kept up to `limit` bytes.
  io_status read_to_end(server_connection& c, std::string& text, std::string& trouble,
                        std::size_t limit = 1 << 20) {
    char buf[16 * 1024];
    for (;;) {
      std::size_t got = 0;
      const io_status s = read_some(c, buf, sizeof buf, got, trouble);
      if (s == io_status::closed) return io_status::ok;
      if (s != io_status::ok) return s;
      if (text.size() < limit) text.append(buf, std::min(got, limit - text.size()));
    }
  }

  const std::string& serial() const { return serial_; }
  int answer_ms() const { return answer_ms_; }
  console& con() { return con_; }
  int port() const { return port_; }

 private:
  int port_;
  int answer_ms_;
  int slice_ms_;
  std::string serial_;
  console& con_;
};

// How a shell's output is shown.
enum class shell_output { show, drop };

struct shell_run {
  bool ok = false;       // the shell ran; false: `error` says why
  int exit_code = 0;
  std::string error;     // the text after "error: "
};

shell_run run_shell(session& s, bool v2, const std::string& command, shell_output how) {
  shell_run run;
  wire_result r;
  auto c = s.device((v2 ? "shell,v2,raw:" : "shell:") + command, r);
  if (!c) {
    run.error = r.message;
    return run;
  }
  std::string trouble;
  console& con = s.con();
  if (!v2) {
    char buf[16 * 1024];
    for (;;) {
      std::size_t got = 0;
      const io_status st = s.read_some(*c, buf, sizeof buf, got, trouble);
      if (st == io_status::closed) break;
      if (st != io_status::ok) {
        run.error = trouble.empty() ? "closed" : trouble;
        return run;
      }
      if (how == shell_output::show) con.out_now(std::string(buf, got));
    }
    run.ok = true;
    return run;
  }
  // Nothing is typed into the command: its standard input ends at once.
  const std::string close_stdin = std::string(1, static_cast<char>(kShellCloseStdin)) + le32(0);
  c->write_all(close_stdin.data(), close_stdin.size(), s.answer_ms());
  bool have_exit = false;
  std::string payload;
  for (;;) {
    char head[5];
    io_status st = s.read_exact(*c, head, sizeof head, trouble);
    if (st == io_status::closed) break;
    if (st != io_status::ok) {
      run.error = trouble.empty() ? "closed" : trouble;
      return run;
    }
    const std::uint32_t n = from_le32(head + 1);
    if (n > kMaxShellPacket) {
      run.error = "protocol fault: shell packet too long";
      return run;
    }
    payload.resize(n);
    st = s.read_exact(*c, payload.data(), n, trouble);
    if (st != io_status::ok) {
      run.error = trouble.empty() ? "closed" : trouble;
      return run;
    }
    const auto kind = static_cast<unsigned char>(head[0]);
    if (kind == kShellStdout && how == shell_output::show) {
      con.out_now(payload);
    } else if (kind == kShellStderr && how == shell_output::show) {
      con.err(payload);
    } else if (kind == kShellExit && n >= 1) {
      run.exit_code = static_cast<unsigned char>(payload[0]);
      have_exit = true;
    }
  }
  if (!have_exit) {
    // The stream ended without the shell's exit status: the device is gone or broke it off.
    trouble = s.device_trouble();
    run.error = trouble.empty() ? "closed" : trouble;
    return run;
  }
  run.ok = true;
  return run;
}

// The features of the device; false (result says why) when the server cannot name them.
bool features_of(session& s, std::string& features, wire_result& r) {
  auto c = s.host(s.host_prefix() + "features", r);
  if (!c) return false;
  r = c->read_hex_string(features);
  return r.ok();
}

// A host service whose answer is one length-prefixed text, printed between head and a line end;
// nullopt when no server answers (the stock client takes over then).
std::optional<int> print_host_answer(session& s, const std::string& service, const std::string& head) {
  wire_result r;
  auto c = s.host(service, r);
  if (r.status == wire_status::no_server) return std::nullopt;
  std::string answer;
  if (c) r = c->read_hex_string(answer);
  if (!r.ok()) {
    s.con().err("error: " + r.message + "\n");
    return 1;
  }
  s.con().out(head + answer + "\n");
  return 0;
}

std::optional<int> cmd_devices(session& s) {
  return print_host_answer(s, "host:devices", "List of devices attached\n");
}

std::optional<int> cmd_get_state(session& s) {
  return print_host_answer(s, s.host_prefix() + "get-state", "");
}

std::optional<int> cmd_forward(session& s, const std::string& local, const std::string& remote) {
  wire_result r;
  auto c = s.host(s.host_prefix() + "forward:" + local + ";" + remote, r);
  if (r.status == wire_status::no_server) return std::nullopt;
  std::string port;
  if (c) r = c->read_status();
  if (r.ok()) r = c->read_hex_string(port, true);  // older servers name no port
  if (r.status == wire_status::fail && r.message.empty()) {
    // The server refuses a forward to a device it cannot use without saying why; its answer
    // about the device does.
    wire_result state;
    auto q = s.host(s.host_prefix() + "get-state", state);
    std::string text;
    if (q) state = q->read_hex_string(text);
    if (!state.ok()) r.message = state.message;
  }
  if (!r.ok()) {
    s.con().err("adb: error: " + r.message + "\n");
    return 1;
  }
  if (!port.empty()) s.con().out(port + "\n");
  return 0;
}

std::optional<int> cmd_shell(session& s, const std::string& command) {
  std::string features;
  wire_result r;
  if (!features_of(s, features, r)) {
    if (r.status == wire_status::no_server) return std::nullopt;
    s.con().err("error: " + r.message + "\n");
    return 1;
  }
  const shell_run run = run_shell(s, has_feature(features, "shell_v2"), command, shell_output::show);
  if (!run.ok) {
    s.con().err("error: " + run.error + "\n");
    return 1;
  }
  return run.exit_code;
}

// Sends the file to the device's `remote` over the sync service; empty, or why it failed.
std::string sync_push(session& s, std::ifstream& in, std::uintmax_t size, unsigned mode,
                      const std::string& remote) {
  wire_result r;
  auto c = s.device("sync:", r);
  if (!c) return r.message;
  std::string trouble;
  const std::string spec = remote + "," + std::to_string(mode);
  std::string head = "SEND" + le32(static_cast<std::uint32_t>(spec.size())) + spec;
  if (s.write_all(*c, head.data(), head.size(), trouble) != io_status::ok)
    return trouble.empty() ? "closed" : trouble;
  // Several DATA packets go out in one write, so that the server forwards full payloads to the
  // device instead of one small one per packet (each waits for the device's acknowledgement).
  constexpr std::size_t kPacketsPerWrite = 16;
  std::vector<char> batch((8 + kSyncChunk) * kPacketsPerWrite);
  std::uintmax_t left = size;
  while (left > 0) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < kPacketsPerWrite && left > 0; ++i) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(left, kSyncChunk));
      const std::string head = "DATA" + le32(static_cast<std::uint32_t>(n));
      std::copy(head.begin(), head.end(), batch.begin() + static_cast<std::ptrdiff_t>(used));
      in.read(batch.data() + used + 8, static_cast<std::streamsize>(n));
      if (static_cast<std::size_t>(in.gcount()) != n) return "read error";
      used += 8 + n;
      left -= n;
    }
    if (s.write_all(*c, batch.data(), used, trouble) != io_status::ok)
      return trouble.empty() ? "closed" : trouble;
  }
  const std::string done = "DONE" + le32(static_cast<std::uint32_t>(std::time(nullptr)));
  if (s.write_all(*c, done.data(), done.size(), trouble) != io_status::ok)
    return trouble.empty() ? "closed" : trouble;
  char answer[8];
  if (s.read_exact(*c, answer, 8, trouble) != io_status::ok)
    return trouble.empty() ? "closed" : trouble;
  if (std::string(answer, 4) == "FAIL") {
    std::string why(std::min<std::uint32_t>(from_le32(answer + 4), 64 * 1024), '\0');
    if (s.read_exact(*c, why.data(), why.size(), trouble) != io_status::ok) return "closed";
    return why;
  }
  if (std::string(answer, 4) != "OKAY") return "protocol fault";
  const std::string quit = "QUIT" + le32(0);
  c->write_all(quit.data(), quit.size(), s.answer_ms());
  return {};
}

std::optional<int> cmd_install(session& s, const std::string& path, bool replace) {
  console& con = s.con();
  std::string features;
  wire_result r;
  if (!features_of(s, features, r)) {
    if (r.status == wire_status::no_server) return std::nullopt;
    con.err("error: " + r.message + "\n");
    con.out("Performing Push Install\n");
    con.out("adb: error: failed to get feature set: " + r.message + "\n");
    return 255;
  }
  const bool streamed = has_feature(features, "cmd");
  con.out(streamed ? "Performing Streamed Install\n" : "Performing Push Install\n");
  const fs::path local = fs::u8path(path);
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(local, ec);
  if (ec) {
    if (streamed) {
      con.err("adb: failed to stat " + path + ": " + ec.message() + "\n");
      return 1;
    }
    con.out("adb: error: cannot stat '" + path + "': " + ec.message() + "\n");
    return 255;
  }
  std::ifstream in(local, std::ios::binary);
  if (!in) {
    const std::string why = "cannot open";
    if (streamed) {
      con.err("adb: failed to open " + path + ": " + why + "\n");
      return 1;
    }
    con.out("adb: error: cannot open '" + path + "': " + why + "\n");
    return 255;
  }
  const std::string options = replace ? " -r" : "";
  if (streamed) {
    auto c = s.device("exec:cmd package install" + options + " -S " + std::to_string(size), r);
    if (!c) {
      con.err("adb: connect error for write: " + r.message + "\n");
      return 1;
    }
    std::string trouble;
    std::vector<char> buf(1 << 20);
    std::uintmax_t left = size;
    bool sent = true;
    while (left > 0 && sent) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(left, buf.size()));
      in.read(buf.data(), static_cast<std::streamsize>(n));
      if (static_cast<std::size_t>(in.gcount()) != n) {
        con.err("adb: failed to read " + path + "\n");
        return 1;
      }
      sent = s.write_all(*c, buf.data(), n, trouble) == io_status::ok;
      left -= n;
    }
    std::string answer;
    std::string read_trouble;
    const io_status st = s.read_to_end(*c, answer, read_trouble);
    if (!sent && !trouble.empty()) {
      con.err("adb: failed to install " + path + ": " + trouble + "\n");
      return 1;
    }
    if (st != io_status::ok) {
      con.err("adb: failed to install " + path + ": " +
              (read_trouble.empty() ? std::string("closed") : read_trouble) + "\n");
      return 1;
    }
    if (answer.compare(0, 7, "Success") == 0) {
      con.out(answer);
      return 0;
    }
    con.err("adb: failed to install " + path + ": " + answer);
    return 1;
  }

  const std::string remote = kPushFolder + base_name(path);
  const auto start = std::chrono::steady_clock::now();
  const fs::perms perms = fs::status(local, ec).permissions();
  const unsigned mode = 0100000u | (ec ? 0644u : static_cast<unsigned>(perms) & 0777u);
  const std::string failed = sync_push(s, in, size, mode, remote);
  if (!failed.empty()) {
    con.out("adb: error: failed to copy '" + path + "' to '" + remote + "': " + failed + "\n");
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char line[160];
  std::snprintf(line, sizeof line, ": 1 file pushed, 0 skipped. %.1f MB/s (%llu bytes in %.3fs)\n",
                seconds > 0 ? static_cast<double>(size) / (1024.0 * 1024.0) / seconds : 0.0,
                static_cast<unsigned long long>(size), seconds);
  con.out(path + line);
  const bool v2 = has_feature(features, "shell_v2");
  const shell_run run =
      run_shell(s, v2, "pm install" + options + " " + shell_quote(remote), shell_output::show);
  // The pushed copy goes whatever the package manager said.
  run_shell(s, v2, "rm -f " + shell_quote(remote), shell_output::drop);
  if (!run.ok) {
    con.err("error: " + run.error + "\n");
    return 1;
  }
  return run.exit_code;
}

std::optional<int> cmd_uninstall(session& s, const std::string& package) {
  console& con = s.con();
  std::string features;
  wire_result r;
  if (!features_of(s, features, r)) {
    if (r.status == wire_status::no_server) return std::nullopt;
    // The stock client says this and then waits for the device without end; ending here is
    // what the runner needs.
    con.err("error: " + r.message + "\n");
    return 1;
  }
  if (has_feature(features, "cmd")) {
    auto c = s.device("exec:cmd package uninstall " + shell_quote(package), r);
    if (!c) {
      con.err("error: " + r.message + "\n");
      return 1;
    }
    std::string answer;
    std::string trouble;
    if (s.read_to_end(*c, answer, trouble) != io_status::ok) {
      con.out_now(answer);
      con.err("error: " + (trouble.empty() ? std::string("closed") : trouble) + "\n");
      return 1;
    }
    con.out_now(answer);
    return answer.find("Success") != std::string::npos ? 0 : 1;
  }
  const shell_run run = run_shell(s, has_feature(features, "shell_v2"),
                                  "pm uninstall " + shell_quote(package), shell_output::show);
  if (!run.ok) {
    con.err("error: " + run.error + "\n");
    return 1;
  }
  return run.exit_code;
}

int cmd_kill_server(const native_settings& settings, console& con) {
  wire_result r;
  auto c = server_connection::open(settings.port, settings.answer_ms, r);
  if (!c) {
    con.err("cannot connect to daemon at tcp:" + std::to_string(settings.port) + ": " +
            r.message + "\n");
    return 0;
  }
  r = c->request("host:kill");
  if (r.status == wire_status::fail) {
    con.err("error: " + r.message + "\n");
    return 1;
  }
  // The server closes the connection when it goes.
  char buf[256];
  std::size_t got = 0;
  while (c->read_some(buf, sizeof buf, got, settings.answer_ms) == io_status::ok) {
  }
  return 0;
}

enum class version_check { ours, stock_client, error };

// Asks the server's version, as the stock client does before a command. Without a server, or
// with one of another version, the command is the stock client's; a server that does not answer
// is an error, printed here.
version_check check_server_version(const native_settings& settings, console& con,
                                   std::string* why) {
  wire_result r;
  auto c = server_connection::open(settings.port, settings.answer_ms, r);
  if (c) r = c->request("host:version");
  std::string text;
  if (r.ok()) r = c->read_hex_string(text);
  if (r.status == wire_status::no_server) return version_check::stock_client;
  if (r.status == wire_status::io_error) {
    con.err("error: " + r.message + "\n");
    return version_check::error;
  }
  const long version = r.ok() && text.size() == 4 ? parse_hex4(text.data()) : -1;
  if (version == kServerVersion) return version_check::ours;
  if (why) {
    const std::string found = r.ok() ? (version >= 0 ? std::to_string(version) : "'" + text + "'")
                                     : "unknown: " + r.message;
    *why = "adb server version (" + found + ") doesn't match this client (" +
           std::to_string(kServerVersion) + ")";
  }
  return version_check::stock_client;
}

bool is_tcp_spec(const std::string& s) {
  if (s.compare(0, 4, "tcp:") != 0 || s.size() == 4 || s.size() > 9) return false;
  for (std::size_t i = 4; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

}  // namespace

int server_port_from(const std::string& value) {
  if (value.empty()) return 5037;
  if (value.size() > 5) return 0;
  int port = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return 0;
    port = port * 10 + (c - '0');
  }
  return port > 0 && port < 65536 ? port : 0;
}

std::optional<int> run_native(const std::vector<std::string>& args, const native_settings& settings,
                              console& con, std::string* why) {
  if (settings.port <= 0) return std::nullopt;
  std::size_t i = 0;
  std::string serial = settings.env_serial;
  if (args.size() >= 2 && args[0] == "-s") {
    if (args[1].empty()) return std::nullopt;
    serial = args[1];
    i = 2;
  }
  if (i >= args.size()) return std::nullopt;
  const std::string& command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

  // Which commands are ours, with which arguments; the rest goes to the stock client.
  enum class kind {
    devices, start_server, kill_server, get_state, forward, shell, install, uninstall, connect,
    disconnect
  };
  kind k;
  if (command == "devices" && rest.empty()) k = kind::devices;
  else if (command == "start-server" && rest.empty()) k = kind::start_server;
  else if (command == "kill-server" && rest.empty()) k = kind::kill_server;
  else if (command == "get-state" && rest.empty()) k = kind::get_state;
  else if (command == "forward" && rest.size() == 2 && is_tcp_spec(rest[0]) && is_tcp_spec(rest[1]))
    k = kind::forward;
  else if (command == "shell" && !rest.empty() && !rest[0].empty() && rest[0][0] != '-')
    k = kind::shell;
  else if (command == "install" &&
           ((rest.size() == 1 && rest[0][0] != '-') || (rest.size() == 2 && rest[0] == "-r")) &&
           !rest.back().empty())
    k = kind::install;
  else if (command == "uninstall" && rest.size() == 1 && !rest[0].empty() && rest[0][0] != '-')
    k = kind::uninstall;
  else if (command == "connect" && rest.size() == 1 && !rest[0].empty() && rest[0][0] != '-')
    k = kind::connect;
  else if (command == "disconnect" && rest.size() <= 1 && (rest.empty() || !rest[0].empty()))
    k = kind::disconnect;
  else
    return std::nullopt;

  // The stock client kills a server of any version without asking it.
  if (k == kind::kill_server) return cmd_kill_server(settings, con);

  // Without a server, nothing is printed and the stock client starts one (and says so) and runs
  // the command; a server of another version it restarts (and says which version it found).
  switch (check_server_version(settings, con, why)) {
    case version_check::stock_client: return std::nullopt;
    case version_check::error: return 1;
    case version_check::ours: break;
  }
  if (k == kind::start_server) return 0;

  session s(settings, serial, con);
  switch (k) {
    case kind::devices: return cmd_devices(s);
    case kind::get_state: return cmd_get_state(s);
    case kind::forward: return cmd_forward(s, rest[0], rest[1]);
    case kind::shell: {
      std::string line;
      for (const std::string& a : rest) line += (line.empty() ? "" : " ") + a;
      return cmd_shell(s, line);
    }
    case kind::install: return cmd_install(s, rest.back(), rest.size() == 2);
    case kind::uninstall: return cmd_uninstall(s, rest[0]);
    // The server answers both with the line the user sees ("connected to ...").
    case kind::connect: return print_host_answer(s, "host:connect:" + rest[0], "");
    case kind::disconnect:
      return print_host_answer(s, "host:disconnect:" + (rest.empty() ? "" : rest[0]), "");
    default: return std::nullopt;
  }
}

}  // namespace tivorel_help
