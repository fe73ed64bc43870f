#include "hostbase/mount_table.h"

#include <fstream>
#include <iterator>

namespace hostbase {
namespace {

bool octal(char c) { return c >= '0' && c <= '7'; }

// One field, its "\ooo" escapes undone; a "\" not followed by three octal digits stays.
std::string unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) &&
        octal(s[i + 2]) && octal(s[i + 3])) {
      out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<MountEntry> ParseMountTable(std::string_view text) {
  std::vector<MountEntry> table;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::string_view fields[3];
    int n = 0;
    std::size_t i = 0;
    while (n < 3 && i < line.size()) {
      while (i < line.size() && blank(line[i])) ++i;
      const std::size_t start = i;
      while (i < line.size() && !blank(line[i]) && line[i] != '\r') ++i;
      if (i == start) break;
      fields[n++] = line.substr(start, i - start);
    }
    if (n < 3) continue;
    table.push_back({unescape(fields[0]), unescape(fields[1]), unescape(fields[2])});
  }
  return table;
}

std::vector<MountEntry> ReadMountTable(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseMountTable(text);
}

const MountEntry* MountHolding(const std::vector<MountEntry>& table, const std::string& path) {
  const MountEntry* best = nullptr;
  for (const MountEntry& m : table) {
    const std::string& point = m.mount_point;
    if (point.empty()) continue;
    const bool inside = point == "/" || path == point ||
                        (path.size() > point.size() && path.compare(0, point.size(), point) == 0 &&
                         (path[point.size()] == '/' || point.back() == '/'));
    if (inside && (!best || point.size() >= best->mount_point.size())) best = &m;
  }
  return best;
}

}  // namespace hostbase
