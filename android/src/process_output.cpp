#include "android/process_output.h"

#include "qv/text.h"

#include <chrono>
#include <climits>
#include <cwctype>
#include <vector>

namespace tiv::android {
namespace {

// After the child has ended, what is still in the pipe is read. Only what the child started
// could still write then, and it must not hold the caller: reading stops when nothing new came
// for the first time, and this long after the end at the latest.
constexpr int kAfterEndQuietMs = 100;
constexpr int kAfterEndMaxMs = 1000;
constexpr int kReadSliceMs = 50;

// Reads what is there into `out`, dropping what goes past the bound; `got` says whether
// anything came. False at the end of the output.
bool read_bounded(child_process& child, std::string& out, int wait_ms, bool& got) {
  const std::size_t before = out.size();
  const bool open = child.read_output(out, wait_ms);
  got = out.size() > before;
  if (out.size() > kMaxCapturedOutput) out.resize(kMaxCapturedOutput);
  return open;
}

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == L'\v'; }

// The value behind `key` (which ends in a quote) up to the next quote, at least one character
// long; npos-terminated search from `from`. Gives the position behind the closing quote.
bool quoted_value(const std::wstring& s, const std::wstring& key, std::size_t from,
                  std::wstring& value, std::size_t& after) {
  const std::size_t k = s.find(key, from);
  if (k == std::wstring::npos) return false;
  const std::size_t v = k + key.size();
  if (v >= s.size()) return false;
  const std::size_t q = s.find(L'\'', v + 1);
  if (q == std::wstring::npos) return false;
  value = s.substr(v, q - v);
  after = q + 1;
  return true;
}

// Leading integer as the C runtime's conversion reads it, clamped to int.
int leading_int(const std::wstring& s) {
  std::size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
  long long v = 0;
  for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i) {
    v = v * 10 + (s[i] - L'0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<int>(v);
}

std::size_t skip_blanks(const std::wstring& s, std::size_t i) {
  while (i < s.size() && is_blank(s[i])) ++i;
  return i;
}

std::size_t skip_token(const std::wstring& s, std::size_t i) {
  while (i < s.size() && !is_blank(s[i])) ++i;
  return i;
}

const std::wstring kAdbAddress = L"127.0.0.1:5037";

// netstat: the address, one more field, LISTENING and the process id, blanks between.
std::optional<int> netstat_owner(const std::wstring& s) {
  static const std::wstring kListening = L"LISTENING";
  for (std::size_t at = s.find(kAdbAddress); at != std::wstring::npos;
       at = s.find(kAdbAddress, at + 1)) {
    const std::size_t t0 = skip_blanks(s, at + kAdbAddress.size());
    const std::size_t t1 = skip_token(s, t0);
    if (t1 == t0) continue;
    // The field may also run straight into the state word; the longest field is tried first.
    for (std::size_t end = t1; end > t0; --end) {
      const std::size_t state = end == t1 ? skip_blanks(s, t1) : end;
      if (s.compare(state, kListening.size(), kListening) != 0) continue;
      const std::size_t p0 = skip_blanks(s, state + kListening.size());
      const std::size_t p1 = skip_token(s, p0);
      if (p1 == p0) continue;
      // A process id is never negative: "-1" handed to a kill would reach every process.
      const int pid = leading_int(s.substr(p0, p1 - p0));
      if (pid >= 0) return pid;
    }
  }
  return std::nullopt;
}

// ss -Hltnp: LISTEN, two queue sizes, the address, the peer, users:(("name",pid=N,fd=M)).
std::optional<int> ss_owner(const std::wstring& s) {
  std::size_t line_start = 0;
  while (line_start < s.size()) {
    std::size_t line_end = s.find(L'\n', line_start);
    if (line_end == std::wstring::npos) line_end = s.size();
    const std::wstring line = s.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    std::vector<std::wstring> tokens;
    for (std::size_t i = skip_blanks(line, 0); i < line.size(); i = skip_blanks(line, i)) {
      const std::size_t e = skip_token(line, i);
      tokens.push_back(line.substr(i, e - i));
      i = e;
    }
    if (tokens.size() < 6 || tokens[0] != L"LISTEN" || tokens[3] != kAdbAddress) continue;
    const std::size_t users = line.find(L"users:((");
    if (users == std::wstring::npos) continue;
    const std::size_t pid = line.find(L",pid=", users);
    if (pid == std::wstring::npos) continue;
    const std::size_t d0 = pid + 5;
    if (d0 >= line.size() || line[d0] < L'0' || line[d0] > L'9') continue;
    return leading_int(line.substr(d0));
  }
  return std::nullopt;
}

}  // namespace

std::string RunCaptured(const std::wstring& command_line, int timeout_ms,
                        const std::function<void(std::shared_ptr<child_process>)>& started,
                        bool* started_ok, int* exit_code) {
  if (started_ok) *started_ok = false;
  if (exit_code) *exit_code = -1;
  process_options options;
  options.capture_output = true;
  // What the command starts in turn ends with it when it is cancelled or runs out of time.
  options.own_group = true;
  options.own_job = true;
  std::shared_ptr<child_process> child(child_process::start(command_line, options).release());
  if (!child) return {};
  if (started_ok) *started_ok = true;
  if (started) started(child);

  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  bool terminated = false;
  // The limit holds for the whole run, the reading after the child's end included.
  auto end_at_limit = [&] {
    if (!terminated && timeout_ms >= 0 && clock::now() >= deadline) {
      child->terminate();
      terminated = true;
    }
  };
  std::string out;
  bool open = true;
  bool got = false;
  for (;;) {
    if (open) open = read_bounded(*child, out, kReadSliceMs, got);
    if (child->wait(open ? 0 : kReadSliceMs)) break;
    end_at_limit();
  }
  const auto drain_until = clock::now() + std::chrono::milliseconds(kAfterEndMaxMs);
  while (open) {
    open = read_bounded(*child, out, kAfterEndQuietMs, got);
    if (!got || clock::now() >= drain_until) break;
    end_at_limit();
  }
  if (started) started(nullptr);
  if (exit_code) *exit_code = terminated ? -1 : child->exit_code();
  return out;
}

BadgingInfo ParseBadging(const std::wstring& s) {
  BadgingInfo info;
  const std::size_t package = s.find(L"package");
  if (package == std::wstring::npos) return {};
  std::size_t after = 0;
  if (!quoted_value(s, L"name='", package + 7, info.package, after)) return {};
  const std::size_t app = s.find(L"application:", after);
  if (app == std::wstring::npos) return {};
  if (!quoted_value(s, L"label='", app + 12, info.label, after)) return {};
  if (!quoted_value(s, L"icon='", after, info.icon, after)) return {};
  return info;
}

std::optional<int> ParseAdbPortOwner(const std::wstring& output) {
  if (auto pid = netstat_owner(output)) return pid;
  return ss_owner(output);
}

}  // namespace tiv::android
