#include "startup_os.h"

#include "qv/message_loop.h"
#include "qv/message_loop_posix.h"
#include "qv/text.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace app::os {
namespace {

std::unique_ptr<boost::asio::signal_set>& signals() {
  static std::unique_ptr<boost::asio::signal_set> s;
  return s;
}

// Quotes one argument so that the Windows command-line rules give it back unchanged.
std::wstring quote_whole(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

// A switch with a value ("-url:a b") is quoted behind its colon ("-url:\"a b\""): the same
// argument by the Windows rules, and the form in which the switch reader takes the whole value.
std::wstring quote(const std::wstring& arg) {
  if (!arg.empty() && (arg[0] == L'-' || arg[0] == L'/')) {
    const std::size_t colon = arg.find(L':');
    if (colon != std::wstring::npos && colon + 1 < arg.size() &&
        arg.find_first_of(L" \t\n\v\"") > colon)
      return arg.substr(0, colon + 1) + quote_whole(arg.substr(colon + 1));
  }
  return quote_whole(arg);
}

}  // namespace

bool start_network() { return true; }
void stop_network() {}

std::wstring command_line() {
  std::ifstream f("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::wstring line;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    std::size_t end = raw.find('\0', pos);
    if (end == std::string::npos) end = raw.size();
    if (!line.empty()) line += L' ';
    line += quote(qv::text::utf8_to_wide(raw.substr(pos, end - pos)));
    pos = end + 1;
  }
  return line;
}

void install_quit_signals() {
  auto& s = signals();
  if (s) return;
  s = std::make_unique<boost::asio::signal_set>(qv::loop::posix::context(), SIGINT, SIGTERM);
  s->async_wait([](const boost::system::error_code& ec, int) {
    if (!ec) qv::loop::post_quit(0);
  });
}

void remove_quit_signals() {
  auto& s = signals();
  if (!s) return;
  boost::system::error_code ec;
  s->cancel(ec);
  s.reset();
}

}  // namespace app::os
