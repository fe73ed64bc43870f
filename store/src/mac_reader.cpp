#include "store/mac_reader.h"

#include <algorithm>
#include <utility>

#include "qv/md5.h"
#include "network_os.h"

namespace store {
namespace {

std::wstring ascii_lower(std::wstring s) {
  for (wchar_t& c : s)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return s;
}

bool starts_with(const std::array<std::uint8_t, 8>& a, std::initializer_list<std::uint8_t> p) {
  return std::equal(p.begin(), p.end(), a.begin());
}

bool set_aside(const adapter_record& r) {
  if (r.virtual_interface) return true;
  const std::wstring d = ascii_lower(r.description);
  if (d.find(L"vmware") != std::wstring::npos || d.find(L"ppp/slip") != std::wstring::npos)
    return true;
  const auto& a = r.address;
  if (starts_with(a, {'D', 'E', 'S', 'T'}) || starts_with(a, {0, 'S', 'E'})) return true;
  if (std::all_of(a.begin(), a.end(), [](std::uint8_t b) { return b == 0; })) return true;
  for (std::size_t i = 0; i <= 5; ++i)
    if (a[i] == 'R' && a[i + 1] == 'A' && a[i + 2] == 'S') return true;
  return false;
}

int hex_value(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::wstring trim(const std::wstring& s) {
  const auto b = s.find_first_not_of(L" \t");
  if (b == std::wstring::npos) return {};
  const auto e = s.find_last_not_of(L" \t");
  return s.substr(b, e - b + 1);
}

// "00-1C-42-AB-CD-EF": exactly six two-digit groups.
bool parse_physical_address(const std::wstring& text, std::array<std::uint8_t, 8>& out) {
  const std::wstring t = trim(text);
  if (t.size() != 17) return false;
  std::array<std::uint8_t, 8> a{};
  for (std::size_t g = 0; g < 6; ++g) {
    const std::size_t p = g * 3;
    if (g > 0 && t[p - 1] != L'-') return false;
    const int hi = hex_value(t[p]), lo = hex_value(t[p + 1]);
    if (hi < 0 || lo < 0) return false;
    a[g] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  out = a;
  return true;
}

}  // namespace

void filter_adapters(std::vector<adapter_record>& records) {
  std::vector<adapter_record> kept;
  for (const auto& r : records)
    if (!set_aside(r)) kept.push_back(r);
  if (!kept.empty()) records = std::move(kept);
}

std::vector<adapter_record> parse_ipconfig(const std::wstring& text) {
  std::vector<adapter_record> out;
  std::wstring pending;
  bool have_pending = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t colon = line.find(L':', 1);
    if (line.empty() || colon == std::wstring::npos) continue;
    const std::wstring label = line.substr(0, colon);
    const std::wstring value = line.substr(colon + 1);
    if (label.find(L"Description") != std::wstring::npos) {
      pending = trim(value).substr(0, kAdapterDescriptionMax);
      have_pending = true;
    } else if (label.find(L"Physical Address") != std::wstring::npos && have_pending) {
      adapter_record r;
      if (parse_physical_address(value, r.address)) {
        r.description = pending;
        out.push_back(std::move(r));
      }
      // The adapter's address line has been seen, usable or not (tunnels list eight groups).
      pending.clear();
      have_pending = false;
    }
  }
  return out;
}

CMACReaderEx::CMACReaderEx() : sources_(os::adapter_sources()) {}

CMACReaderEx::CMACReaderEx(std::vector<adapter_source> sources) : sources_(std::move(sources)) {}

bool CMACReaderEx::read_adapters() {
  records_.clear();
  cursor_ = 0;
  for (const auto& source : sources_) {
    std::vector<adapter_record> list;
    if (!source || !source(list)) continue;
    filter_adapters(list);
    if (!list.empty()) {
      records_ = std::move(list);
      return true;
    }
  }
  return false;
}

bool CMACReaderEx::next_adapter(adapter_record& out) {
  if (cursor_ >= records_.size()) return false;
  out = records_[cursor_++];
  return true;
}

std::string MachineIdentifier(CMACReaderEx& reader) {
  adapter_record first;
  if (!reader.read_adapters() || !reader.next_adapter(first)) return {};
  return qv::md5_hex(first.address.data(), first.address.size());
}

}  // namespace store
