// The device database and the matching of instance ids and storage paths against it: one
// implementation for both systems, fed with ids in the Windows form.
#include "android/device_manager.h"

#include "qv/text.h"
#include "qv/xml.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <climits>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace tiv::android {
namespace {

using qv::xml::element_ptr;

std::wstring wide(const qv::xml::string& s) { return qv::text::utf16_to_wide(s); }

std::wstring child_text(const element_ptr& e, const char16_t* name) {
  element_ptr c = e->child(qv::xml::string(name));
  return c ? wide(c->text()) : std::wstring();
}

// _wtoi: leading blanks, an optional sign, decimal digits; 0 when there are none. Values beyond
// 32 bits clamp instead of overflowing.
std::int32_t to_int32(const std::wstring& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == L' ' || (s[i] >= L'\t' && s[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
  long long v = 0;
  for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i) {
    v = v * 10 + (s[i] - L'0');
    if (v > INT_MAX + 1LL) v = INT_MAX + 1LL;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<std::int32_t>(v);
}

// A group list ("PIDs", "Names", "Modals"): each child element is a group of one "ProductId"
// (the last one counts) and its "Value" children; other children are ignored.
std::vector<IdGroup> read_groups(const element_ptr& list) {
  std::vector<IdGroup> groups;
  if (!list) return groups;
  for (std::size_t i = 0; i < list->child_count(); ++i) {
    element_ptr g = list->child(i);
    IdGroup group;
    for (std::size_t k = 0; k < g->child_count(); ++k) {
      element_ptr c = g->child(k);
      if (c->name() == u"ProductId") {
        group.product_id = wide(c->text());
      } else if (c->name() == u"Value") {
        group.values.push_back(wide(c->text()));
      }
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

wchar_t fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

std::wstring lowered(const std::wstring& s) {
  std::wstring out(s);
  for (wchar_t& c : out) c = fold(c);
  return out;
}

std::wstring group1(const std::wstring& text, const boost::wregex& re) {
  boost::wsmatch m;
  if (boost::regex_search(text, m, re)) return m[1].str();
  return {};
}

const boost::wregex& vid_re() {
  static const boost::wregex re(L"VID_(\\w{4}).+", boost::regex::perl);
  return re;
}
const boost::wregex& pid_re() {
  static const boost::wregex re(L"PID_(\\w{4}).+", boost::regex::perl);
  return re;
}
const boost::wregex& serial_re() {
  static const boost::wregex re(L"\\\\([^\\\\]*)$", boost::regex::perl);
  return re;
}
const boost::wregex& product_re() {
  static const boost::wregex re(L"prod_([^&]+)", boost::regex::perl);
  return re;
}
const boost::wregex& storage_serial_re() {
  static const boost::wregex re(L"\\s*\\S+#(\\w+)", boost::regex::perl);
  return re;
}

void fill(DeviceEntry& entry, const DeviceRecord& record) {
  entry.alias = record.alias;
  entry.product_id = record.product_id;
  entry.brand = record.brand;
  entry.product = record.product;
  entry.type = record.type;
  entry.large_icon_path = record.large_icon_path;
}

// A composite device's interfaces ("...&MI_00\...") sort before the device itself; the device's
// own id carries the serial number that the names and the ADB client know.
bool is_interface_id(const std::wstring& id) { return ContainsNoCase(id, L"&mi_"); }

}  // namespace

// ---- DeviceDatabase -----------------------------------------------------------------------

struct DeviceDatabase::CompiledNames {
  // Per vid, per group, per value: the compiled expression, or null when it does not compile.
  std::map<std::wstring, std::vector<std::vector<std::unique_ptr<boost::wregex>>>> by_vid;
};

DeviceDatabase::DeviceDatabase() : names_(std::make_unique<CompiledNames>()) {}
DeviceDatabase::~DeviceDatabase() = default;
DeviceDatabase::DeviceDatabase(DeviceDatabase&&) noexcept = default;
DeviceDatabase& DeviceDatabase::operator=(DeviceDatabase&&) noexcept = default;

void DeviceDatabase::Clear() {
  vids_.clear();
  devices_.clear();
  warnings_.clear();
  names_ = std::make_unique<CompiledNames>();
}

bool DeviceDatabase::Parse(const std::string& document) {
  Clear();
  qv::xml::basic_xml_dom_parser parser;
  if (!parser.parse_buffer(document)) return false;
  element_ptr root = parser.root();
  if (!root) return false;

  if (element_ptr vids = root->child(u"VIDs")) {
    for (std::size_t i = 0; i < vids->child_count(); ++i) {
      element_ptr v = vids->child(i);
      const qv::xml::string* value = v->attribute(u"Value");
      if (!value) continue;
      VidRecord record;
      record.vid = wide(*value);
      record.product_id = child_text(v, u"ProductId");
      record.pids = read_groups(v->child(u"PIDs"));
      record.names = read_groups(v->child(u"Names"));
      record.modals = read_groups(v->child(u"Modals"));
      vids_[record.vid] = std::move(record);
    }
  }
  if (element_ptr devices = root->child(u"Devices")) {
    for (std::size_t i = 0; i < devices->child_count(); ++i) {
      element_ptr d = devices->child(i);
      if (d->name() != u"Device") continue;
      element_ptr key = d->child(u"ProductId");
      if (!key) continue;
      DeviceRecord r;
      r.product_id = wide(key->text());
      r.manufactory = child_text(d, u"Manufactory");
      r.brand = child_text(d, u"Brand");
      r.product = child_text(d, u"Product");
      r.alias = child_text(d, u"Alias");
      r.type = to_int32(child_text(d, u"Type"));
      r.resolution_size = child_text(d, u"ResolutionSize");
      r.small_icon_path = child_text(d, u"SmallIconPath");
      r.outside_size = child_text(d, u"OutsideSize");
      r.inside_size = child_text(d, u"InsideSize");
      r.margins = child_text(d, u"Margins");
      r.large_icon_path = child_text(d, u"LargeIconPath");
      devices_[r.product_id] = std::move(r);
    }
  }

  // Compiled once here, so a scan never compiles and a bad expression is reported once.
  for (const auto& v : vids_) {
    auto& groups = names_->by_vid[v.first];
    for (const IdGroup& g : v.second.names) {
      groups.emplace_back();
      for (const std::wstring& value : g.values) {
        std::unique_ptr<boost::wregex> re;
        try {
          re = std::make_unique<boost::wregex>(value, boost::regex::perl);
        } catch (const std::exception& e) {
          warnings_.push_back("device database: VID " + qv::text::wide_to_utf8(v.first) +
                              ": the Names value \"" + qv::text::wide_to_utf8(value) +
                              "\" is not a valid regular expression and never matches (" +
                              e.what() + ")");
        }
        groups.back().push_back(std::move(re));
      }
    }
  }
  return true;
}

const DeviceRecord* DeviceDatabase::MatchName(const VidRecord& vid,
                                              const std::wstring& serial) const {
  auto compiled = names_->by_vid.find(vid.vid);
  if (compiled == names_->by_vid.end()) return nullptr;
  for (std::size_t g = 0; g < vid.names.size() && g < compiled->second.size(); ++g) {
    const auto& values = compiled->second[g];
    for (const auto& re : values) {
      if (!re) continue;
      bool hit = false;
      try {
        hit = boost::regex_search(serial, *re);
      } catch (const std::exception&) {
        hit = false;  // an expression too complex for this serial matches nothing
      }
      if (!hit) continue;
      auto d = devices_.find(vid.names[g].product_id);
      if (d != devices_.end()) return &d->second;
    }
  }
  return nullptr;
}

// ---- Matching -----------------------------------------------------------------------------

bool ContainsNoCase(const std::wstring& haystack, const std::wstring& needle) {
  if (haystack.empty() || needle.empty()) return false;
  return lowered(haystack).find(lowered(needle)) != std::wstring::npos;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

InstanceIdParts ParseInstanceId(const std::wstring& id) {
  return {group1(id, vid_re()), group1(id, pid_re()), group1(id, serial_re())};
}

std::vector<std::wstring> ExpandHubs(const std::vector<UsbDevice>& devices) {
  std::vector<std::wstring> ids;
  ids.reserve(devices.size());
  for (const UsbDevice& d : devices) {
    bool hub = ContainsNoCase(d.instance_id, L"root_hub");
    if (!hub) {
      // Only the description's single bytes count, each as one character.
      std::wstring description;
      for (char c : d.description)
        if (c != 0) description.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
      hub = ContainsNoCase(description, L"usb hub");
    }
    if (hub) {
      ids.insert(ids.end(), d.children.begin(), d.children.end());
    } else {
      ids.push_back(d.instance_id);
    }
  }
  return ids;
}

bool MatchInstanceId(const DeviceDatabase& db, const std::wstring& id, DeviceEntry& entry) {
  const InstanceIdParts parts = ParseInstanceId(id);
  auto v = db.vids().find(parts.vid);
  if (v == db.vids().end()) return false;
  const DeviceRecord* record = nullptr;
  if (!parts.serial.empty()) record = db.MatchName(v->second, parts.serial);
  if (!record && !parts.pid.empty()) {
    for (const IdGroup& g : v->second.pids) {
      for (const std::wstring& value : g.values) {
        if (value != parts.pid) continue;
        auto d = db.devices().find(g.product_id);
        if (d != db.devices().end()) {
          record = &d->second;
          break;
        }
      }
      if (record) break;
    }
  }
  if (!record) return false;
  fill(entry, *record);
  entry.vid = parts.vid;
  entry.pid = parts.pid;
  entry.serial = parts.serial;
  return true;
}

std::vector<DeviceEntry> MatchUsbDevices(const DeviceDatabase& db,
                                         const std::vector<std::wstring>& instance_ids) {
  struct Candidate {
    std::wstring vid, pid;
    std::vector<std::wstring> ids;
  };
  std::vector<Candidate> candidates;
  std::unordered_map<std::wstring, std::size_t> by_key;  // vid "\n" pid -> candidate
  for (const std::wstring& id : instance_ids) {
    InstanceIdParts parts = ParseInstanceId(id);
    std::wstring key = parts.vid + L'\n' + parts.pid;
    auto it = by_key.find(key);
    if (it == by_key.end()) {
      it = by_key.emplace(std::move(key), candidates.size()).first;
      candidates.push_back({std::move(parts.vid), std::move(parts.pid), {}});
    }
    candidates[it->second].ids.push_back(id);
  }
  std::vector<DeviceEntry> entries;
  for (Candidate& c : candidates) {
    std::sort(c.ids.begin(), c.ids.end());
    c.ids.erase(std::unique(c.ids.begin(), c.ids.end()), c.ids.end());
    auto own = std::find_if(c.ids.begin(), c.ids.end(),
                            [](const std::wstring& id) { return !is_interface_id(id); });
    const std::wstring& first = own != c.ids.end() ? *own : c.ids.front();
    DeviceEntry entry;
    if (!MatchInstanceId(db, first, entry)) continue;
    entry.usb_key = entry.vid + entry.pid;
    entry.instance_ids = std::move(c.ids);
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool MatchStorageProduct(const DeviceDatabase& db, const std::wstring& product,
                         DeviceEntry& entry) {
  for (const auto& v : db.vids()) {
    for (const IdGroup& g : v.second.modals) {
      for (const std::wstring& value : g.values) {
        if (!EqualNoCase(value, product)) continue;
        auto d = db.devices().find(g.product_id);
        if (d == db.devices().end()) continue;
        entry = DeviceEntry();
        fill(entry, d->second);
        entry.serial = g.product_id;
        entry.vid = v.first;
        return true;
      }
    }
  }
  return false;
}

void AttachDrives(const DeviceDatabase& db, const std::vector<RemovableDrive>& drives,
                  std::vector<DeviceEntry>& entries) {
  // Every serial of every entry, lower-cased, with the first (entry, id) position that has it.
  // A drive's storage path is then searched by its own substrings, so the cost grows with the
  // number of drives plus the number of ids, not with their product.
  using Position = std::pair<std::size_t, std::size_t>;
  std::vector<std::wstring> serials;
  std::vector<std::pair<std::size_t, std::size_t>> positions;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    for (std::size_t i = 0; i < entries[e].instance_ids.size(); ++i) {
      std::wstring s = lowered(ParseInstanceId(entries[e].instance_ids[i]).serial);
      if (s.empty()) continue;
      serials.push_back(std::move(s));
      positions.emplace_back(e, i);
    }
  }
  std::unordered_map<std::wstring_view, Position> index;
  std::size_t longest = 0;
  for (std::size_t k = 0; k < serials.size(); ++k) {
    index.emplace(std::wstring_view(serials[k]), positions[k]);  // the first position stays
    longest = std::max(longest, serials[k].size());
  }

  const std::size_t known = entries.size();  // entries added below carry no instance ids
  for (const RemovableDrive& drive : drives) {
    if (drive.storage_path.empty()) continue;
    const std::wstring path = lowered(drive.storage_path);
    const std::wstring_view view(path);
    bool found = false;
    Position best{SIZE_MAX, SIZE_MAX};
    for (std::size_t start = 0; start < view.size(); ++start) {
      const std::size_t max_len = std::min(longest, view.size() - start);
      for (std::size_t len = 1; len <= max_len; ++len) {
        auto it = index.find(view.substr(start, len));
        if (it != index.end() && it->second < best) {
          best = it->second;
          found = true;
        }
      }
    }
    if (found && best.first < known) {
      entries[best.first].drives.push_back(drive.root);
      continue;
    }
    DeviceEntry entry;
    if (!MatchStorageProduct(db, group1(drive.storage_path, product_re()), entry)) continue;
    entry.drives.push_back(drive.root);
    entry.serial = group1(drive.storage_path, storage_serial_re());
    entries.push_back(std::move(entry));
  }
}

std::vector<std::wstring> DrivesOfInstances(const std::vector<RemovableDrive>& drives,
                                            const std::vector<std::wstring>& instance_ids) {
  std::vector<std::wstring> serials;
  serials.reserve(instance_ids.size());
  for (const std::wstring& id : instance_ids) serials.push_back(ParseInstanceId(id).serial);
  std::vector<std::wstring> roots;
  for (const RemovableDrive& drive : drives) {
    if (drive.storage_path.empty()) continue;
    for (const std::wstring& s : serials) {
      if (ContainsNoCase(drive.storage_path, s)) {
        roots.push_back(drive.root);
        break;
      }
    }
  }
  return roots;
}

std::vector<DeviceChange> CompareScans(const std::vector<DeviceEntry>& previous,
                                       const std::vector<DeviceEntry>& current) {
  using Pair = std::pair<std::wstring, std::wstring>;
  std::set<Pair> before, now;
  for (const DeviceEntry& e : previous) before.emplace(e.vid, e.pid);
  for (const DeviceEntry& e : current) now.emplace(e.vid, e.pid);
  auto change = [](const DeviceEntry& e, int type) {
    DeviceChange c;
    c.change_type = type;
    c.serial = e.serial;
    c.product_id = e.product_id;
    c.brand = e.brand;
    c.product = e.product;
    c.vid = e.vid;
    c.pid = e.pid;
    c.large_icon_path = e.large_icon_path;
    c.usb_key = e.usb_key;
    c.instance_ids = e.instance_ids;
    c.drives = e.drives;
    return c;
  };
  std::vector<DeviceChange> changes;
  for (const DeviceEntry& e : current)
    if (!before.count({e.vid, e.pid})) changes.push_back(change(e, 1));
  for (const DeviceEntry& e : previous)
    if (!now.count({e.vid, e.pid})) changes.push_back(change(e, 2));
  return changes;
}

}  // namespace tiv::android
