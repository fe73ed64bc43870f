#include "android/adb_output.h"

#include <boost/regex.hpp>

namespace tiv::android {
namespace {

// Only ASCII letters are lowered: the patterns are ASCII, and this stays defined for every
// UTF-16 unit (the C library's tolower is not, past one byte).
std::wstring ascii_lower(const std::wstring& s) {
  std::wstring out(s);
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

}  // namespace

bool contains_ignoring_case(const std::wstring& text, const std::wstring& pattern) {
  if (text.empty() || pattern.empty()) return false;
  return ascii_lower(text).find(ascii_lower(pattern)) != std::wstring::npos;
}

int install_result(const std::wstring& output) {
  static const struct {
    const wchar_t* pattern;
    int code;
  } kTable[] = {
      {L"success", kAdbSuccess},
      {L"INSTALL_FAILED_INSUFFICIENT_STORAGE", kAdbInsufficientStorage},
      {L"INSTALL_FAILED_INVALID_APK", kAdbInvalidApk},
      {L"INSTALL_FAILED_OLDER_SDK", kAdbOlderSdk},
      {L"can't find", kAdbCannotFind},
      {L"INSTALL_FAILED_MEDIA_UNAVAILABLE", kAdbMediaUnavailable},
  };
  for (const auto& row : kTable) {
    if (contains_ignoring_case(output, row.pattern)) return row.code;
  }
  return kAdbFailure;
}

int error_word_result(const std::wstring& output) {
  return contains_ignoring_case(output, L"error") ? kAdbFailure : kAdbSuccess;
}

int broadcast_result(const std::wstring& output) {
  return contains_ignoring_case(output, L"result=0") ? kAdbSuccess : kAdbFailure;
}

int result_code(int kind, const std::wstring& output) {
  switch (kind) {
    case kAdbInstall:
    case kAdbUninstall:
      return install_result(output);
    case kAdbStartActivity:
    case kAdbForward:
      return error_word_result(output);
    case kAdbBroadcast:
      return broadcast_result(output);
    default:
      return 0;
  }
}

namespace {

// The leftmost match of "\s*(\S+)\s+(\S+)" in a line, found by a scan: the match can only
// start with the line's first word, so it is the first two words, or nothing when the line has
// fewer. Boost's own search gives up on a long line without a match by throwing (the search
// grows too complex), and no output of the client may end the program. "\s" is the class of
// Boost's wide traits, as in the expression.
bool first_two_words(const std::wstring& line, std::wstring& first, std::wstring& second) {
  static const boost::regex_traits<wchar_t> traits;
  static const wchar_t kSpace[] = L"s";
  static const auto space = traits.lookup_classname(kSpace, kSpace + 1);
  const auto blank = [&](wchar_t c) { return traits.isctype(c, space); };
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n && blank(line[i])) ++i;
  const std::size_t a = i;
  while (i < n && !blank(line[i])) ++i;
  if (i == a || i == n) return false;
  first.assign(line, a, i - a);
  while (i < n && blank(line[i])) ++i;
  const std::size_t b = i;
  while (i < n && !blank(line[i])) ++i;
  if (i == b) return false;
  second.assign(line, b, i - b);
  return true;
}

}  // namespace

std::vector<adb_device> parse_device_list(const std::wstring& output) {
  std::vector<adb_device> devices;
  std::size_t start = 0;
  while (start <= output.size()) {
    std::size_t end = output.find(L'\n', start);
    if (end == std::wstring::npos) end = output.size();
    const std::wstring line = output.substr(start, end - start);
    adb_device d;
    if (first_two_words(line, d.serial, d.state)) {
      const bool emulator = d.serial.find(L"emulator") != std::wstring::npos;
      const bool known_state = d.state.find(L"offline") != std::wstring::npos ||
                               d.state.find(L"device") != std::wstring::npos;
      if (!emulator && known_state) devices.push_back(std::move(d));
    }
    start = end + 1;
  }
  return devices;
}

}  // namespace tiv::android
