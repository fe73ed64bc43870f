#include "desktop/command_switches.h"

#include "qv/command_line.h"
#include "qv/share_memory.h"
#include "qv/text.h"

#include <cstring>
#include <limits>

namespace desktop {

SwitchMap ParseSwitches(const std::u16string& whole_line) {
  const std::u16string line =
      qv::text::wide_to_utf16(qv::cmdline::command_line_tail(qv::text::utf16_to_wide(whole_line)));
  SwitchMap out;
  const std::size_t n = line.size();
  std::size_t pos = 0;
  auto insert = [&](std::u16string name, std::u16string value) {
    if (!name.empty()) out.emplace(std::move(name), std::move(value));
  };
  while (pos < n) {
    const std::size_t mark = line.find_first_of(u"-/", pos);
    if (mark == std::u16string::npos) break;
    const std::size_t start = mark + 1;
    if (start >= n) break;
    const std::size_t stop = line.find_first_of(u" :", start);
    if (stop == std::u16string::npos) {
      insert(line.substr(start), std::u16string());
      break;
    }
    std::u16string name = line.substr(start, stop - start);
    if (line[stop] == u' ' || stop + 1 == n) {
      insert(std::move(name), std::u16string());
      pos = stop + 1;
      continue;
    }
    // ":" with a value behind it.
    std::size_t value_start = stop + 1;
    std::size_t end;
    if (line[value_start] == u'"') {
      ++value_start;
      end = line.find(u'"', value_start);
    } else {
      end = line.find(u' ', value_start);
    }
    if (end == std::u16string::npos) {
      insert(std::move(name), line.substr(value_start));
      break;
    }
    insert(std::move(name), line.substr(value_start, end - value_start));
    pos = end + 1;
  }
  return out;
}

std::uint8_t StartTypeOf(const SwitchMap& switches) {
  auto it = switches.find(u"type");
  if (it == switches.end()) return 1;
  // Leading blanks, a sign, then digits; the rest is ignored, as the C library reads numbers.
  const std::u16string& v = it->second;
  std::size_t i = 0;
  while (i < v.size() && (v[i] == u' ' || v[i] == u'\t')) ++i;
  bool negative = false;
  if (i < v.size() && (v[i] == u'+' || v[i] == u'-')) negative = v[i++] == u'-';
  std::uint32_t value = 0;  // only the low 8 bits count; wrapping keeps them right
  for (; i < v.size() && v[i] >= u'0' && v[i] <= u'9'; ++i)
    value = value * 10u + static_cast<std::uint32_t>(v[i] - u'0');
  if (negative) value = 0u - value;
  return static_cast<std::uint8_t>(value & 0xFFu);
}

std::vector<std::u16string> TakeForwardedCommandLines(
    qv::win32::multiprocess::share_memory& block) {
  std::vector<std::u16string> lines;
  auto* data = static_cast<unsigned char*>(block.data());
  if (!data) return lines;
  block.lock();
  const std::size_t bytes = block.size();
  const std::size_t units = bytes / 2;
  std::u16string current;
  for (std::size_t i = 0; i < units; ++i) {
    const auto u = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (u != 0) {
      current.push_back(u);
      continue;
    }
    if (current.empty()) break;  // the empty line that ends the list
    lines.push_back(std::move(current));
    current.clear();
  }
  // A line cut off by the end of the area (a writer that broke the format) is still taken.
  if (!current.empty()) lines.push_back(std::move(current));
  std::memset(data, 0, bytes);
  block.unlock();
  return lines;
}

}  // namespace desktop
