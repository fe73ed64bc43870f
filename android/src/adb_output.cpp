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

std::vector<adb_device> parse_device_list(const std::wstring& output) {
  static const boost::wregex kLine(L"\\s*(\\S+)\\s+(\\S+)", boost::regex::perl);
  std::vector<adb_device> devices;
  std::size_t start = 0;
  while (start <= output.size()) {
    std::size_t end = output.find(L'\n', start);
    if (end == std::wstring::npos) end = output.size();
    const std::wstring line = output.substr(start, end - start);
    boost::wsmatch m;
    if (boost::regex_search(line, m, kLine)) {
      adb_device d{m[1].str(), m[2].str()};
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
