#include "desktop/contacts.h"

#include "apphelp_os.h"
#include "desktop/log.h"
#include "file_util.h"

#include "qv/codepage.h"
#include "qv/text.h"
#include "qv/xml.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;
using qv::xml::basic_xml_element;
using qv::xml::element_ptr;

namespace desktop {
namespace {

constexpr std::size_t kMaxFileSize = 64u << 20;
constexpr char16_t kIndexName[] = u"contactRecord.xml";

std::u16string u16(const char* ascii) { return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii)); }

std::optional<element_ptr> parse(const std::string& bytes) {
  qv::xml::basic_xml_dom_parser parser;
  if (!parser.parse_buffer(bytes) || !parser.root()) return std::nullopt;
  return parser.root();
}

// Bytes 0..3 are the key, every later byte is XORed with key byte (offset mod 4); the document's
// first byte sits at offset 4, so the key byte is the same either way of counting.
std::string scramble(const std::string& document, std::uint32_t key) {
  std::string out(4 + document.size(), '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((key >> (8 * i)) & 0xFF);
  for (std::size_t i = 0; i < document.size(); ++i)
    out[4 + i] = static_cast<char>(document[i] ^ out[i % 4]);
  return out;
}

std::optional<std::string> unscramble(const std::string& bytes) {
  if (bytes.size() < 4) return std::nullopt;
  std::string out(bytes.size() - 4, '\0');
  for (std::size_t i = 4; i < bytes.size(); ++i) out[i - 4] = static_cast<char>(bytes[i] ^ bytes[i % 4]);
  return out;
}

bool exists(const std::u16string& path) {
  std::error_code ec;
  return fs::exists(NativePath(path), ec);
}

// A backup's name is a plain file name in the folder: no separators, no climbing.
bool plain_name(const std::u16string& name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(u"\\/:") == std::u16string::npos;
}

std::vector<std::u16string> split_blanks(const std::u16string& s) {
  std::vector<std::u16string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == u' ') ++i;
    if (i >= s.size()) break;
    std::size_t end = s.find(u' ', i);
    if (end == std::u16string::npos) end = s.size();
    out.push_back(s.substr(i, end - i));
    i = end;
  }
  return out;
}

}  // namespace

std::u16string ContactBackupName(const std::tm& t) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04d\xE5\xB9\xB4%02d\xE6\x9C\x88%02d\xE6\x97\xA5%02d\xE6\x97\xB6%02d\xE5\x88\x86%02d\xE7\xA7\x92",
                t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return qv::xml::from_utf8(buf);  // 年 月 日 时 分 秒
}

std::optional<std::u16string> SaveContactBackup(const std::u16string& folder_text,
                                                const std::u16string& title,
                                                const std::vector<Contact>& contacts,
                                                const std::tm& local, std::uint32_t key) {
  const std::u16string folder = WithSeparator(folder_text);
  if (folder.empty()) return std::nullopt;
  std::error_code ec;
  fs::create_directories(NativePath(folder), ec);

  // The index lists every earlier backup: one that is there but cannot be read (damaged, locked,
  // too large) is never replaced by a fresh one, so the backup fails before anything is written.
  const std::u16string index_path = folder + kIndexName;
  element_ptr index;
  if (fs::symlink_status(NativePath(index_path), ec).type() == fs::file_type::not_found) {
    index = basic_xml_element::create(u"Root");
  } else {
    auto bytes = ReadWholeFile(index_path, kMaxFileSize);
    if (auto parsed = bytes ? parse(*bytes) : std::nullopt) index = *parsed;
    if (!index) {
      LogLine("contact backup: the index " + qv::xml::to_utf8(index_path) +
              " cannot be read; no backup was made and the index is left as it is");
      return std::nullopt;
    }
  }

  const std::u16string base = ContactBackupName(local);
  std::u16string name = base;
  for (int n = 2; exists(folder + name); ++n) {
    if (n > 1000) return std::nullopt;
    name = base + u"(" + qv::xml::from_utf8(std::to_string(n)) + u")";
  }

  element_ptr root = basic_xml_element::create(u"Contact");
  element_ptr info = basic_xml_element::create(u"Info");
  info->set_attribute(u"time", name);
  info->set_attribute(u"title", title);
  root->append_child(info);
  element_ptr nodes = basic_xml_element::create(u"Nodes");
  for (const Contact& c : contacts) {
    element_ptr node = basic_xml_element::create(u"Node");
    node->set_attribute(u"name", c.name);
    node->set_attribute(u"number", c.number);
    nodes->append_child(node);
  }
  root->append_child(nodes);
  if (!os::write_file_atomic(folder + name, scramble(qv::xml::serialize(*root), key))) {
    LogLine("contact backup: cannot write " + qv::xml::to_utf8(folder + name));
    return std::nullopt;
  }

  element_ptr entry = basic_xml_element::create(u"node");
  entry->set_attribute(u"title", title);
  entry->set_attribute(u"date", name);
  index->append_child(entry);
  if (!os::write_file_atomic(index_path, qv::xml::serialize(*index))) {
    LogLine("contact backup: cannot write the index");
    return std::nullopt;
  }
  return name;
}

std::optional<std::vector<ContactBackupEntry>> ReadContactBackupList(const std::u16string& folder) {
  auto bytes = ReadWholeFile(WithSeparator(folder) + kIndexName, kMaxFileSize);
  if (!bytes) return std::nullopt;
  auto root = parse(*bytes);
  if (!root) return std::nullopt;
  std::vector<ContactBackupEntry> out;
  for (std::size_t i = 0; i < (*root)->child_count(); ++i) {
    element_ptr child = (*root)->child(i);
    const auto* title = child->attribute(u"title");
    const auto* date = child->attribute(u"date");
    if (title && date) out.push_back({*title, *date});
  }
  return out;
}

std::optional<std::vector<Contact>> RestoreContactBackup(const std::u16string& folder,
                                                         const std::u16string& request) {
  const auto pieces = split_blanks(request);
  if (pieces.size() != 2 || !plain_name(pieces[1])) return std::nullopt;
  auto bytes = ReadWholeFile(WithSeparator(folder) + pieces[1], kMaxFileSize);
  if (!bytes) return std::nullopt;
  auto document = unscramble(*bytes);
  if (!document) return std::nullopt;
  auto root = parse(*document);
  if (!root) return std::nullopt;
  element_ptr nodes = (*root)->child(u"Nodes");
  if (!nodes) return std::nullopt;
  std::vector<Contact> out;
  for (std::size_t i = 0; i < nodes->child_count(); ++i) {
    element_ptr node = nodes->child(i);
    if (node->name() != u"Node") continue;
    const auto* name = node->attribute(u"name");
    const auto* number = node->attribute(u"number");
    out.push_back({name ? *name : std::u16string(), number ? *number : std::u16string()});
  }
  return out;
}

// ---- CSV ---------------------------------------------------------------------------------------

namespace {

bool needs_quotes(const std::u16string& field) {
  return field.find_first_of(u",\"\r\n") != std::u16string::npos;
}

void append_field(std::u16string& line, const std::u16string& field) {
  if (!needs_quotes(field)) {
    line += field;
    return;
  }
  line.push_back(u'"');
  for (char16_t c : field) {
    if (c == u'"') line.push_back(u'"');
    line.push_back(c);
  }
  line.push_back(u'"');
}

void append_line(std::u16string& text, const std::vector<std::u16string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) text.push_back(u',');
    // A trailing comma adds no field when the line is read, so an empty last field is written
    // quoted: a contact without a number must read back, not vanish.
    if (i + 1 == fields.size() && fields[i].empty()) text += u"\"\"";
    else append_field(text, fields[i]);
  }
  text += u"\r\n";
}

bool valid_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len;
    std::uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
    else return false;
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::u16string utf16_units(const std::string& bytes, std::size_t from, bool big_endian) {
  std::u16string out;
  out.reserve((bytes.size() - from) / 2);
  for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(big_endian ? (a << 8) | b : a | (b << 8)));
  }
  return out;
}

std::u16string decode_csv(const std::string& bytes) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return qv::text::utf8_to_utf16(bytes.data() + 3, bytes.size() - 3);
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) return utf16_units(bytes, 2, false);
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFE\xFF") == 0) return utf16_units(bytes, 2, true);
  if (os::looks_like_utf16(bytes)) return utf16_units(bytes, 0, false);
  if (valid_utf8(bytes)) return qv::text::utf8_to_utf16(bytes.data(), bytes.size());
  return qv::codepage::cp936_to_utf16(bytes);
}

// Splits the text into records of fields. A quoted field may hold commas, doubled quotes and
// line breaks; a record ends at CR LF, LF or CR outside quotes.
std::vector<std::vector<std::u16string>> split_records(const std::u16string& text) {
  std::vector<std::vector<std::u16string>> records;
  std::vector<std::u16string> fields;
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto end_of_record = [&](std::size_t at) {
    return at >= n || text[at] == u'\r' || text[at] == u'\n';
  };
  auto finish_record = [&]() {
    records.push_back(std::move(fields));
    fields.clear();
    if (i < n && text[i] == u'\r') ++i;
    if (i < n && text[i] == u'\n') ++i;
  };
  while (i < n) {
    if (end_of_record(i)) {  // an empty line, or the end after a trailing comma
      finish_record();
      continue;
    }
    std::u16string field;
    if (text[i] == u'"') {
      ++i;
      while (i < n) {
        if (text[i] == u'"') {
          if (i + 1 < n && text[i + 1] == u'"') {
            field.push_back(u'"');
            i += 2;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        field.push_back(text[i++]);
      }
      // Anything between the closing quote and the next comma belongs to the field.
      while (!end_of_record(i) && text[i] != u',') field.push_back(text[i++]);
    } else {
      while (!end_of_record(i) && text[i] != u',') field.push_back(text[i++]);
    }
    fields.push_back(std::move(field));
    if (i < n && text[i] == u',') {
      ++i;
      continue;  // the next field, or nothing when the comma trails
    }
    finish_record();
  }
  if (!fields.empty()) records.push_back(std::move(fields));
  return records;
}

bool same_ignoring_case(const std::u16string& a, const char* b) {
  const std::u16string w = u16(b);
  if (a.size() != w.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = w[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string FormatContactCsv(const std::vector<std::u16string>& header,
                             const std::vector<std::vector<std::u16string>>& rows) {
  std::u16string text;
  append_line(text, header);
  for (const auto& row : rows) append_line(text, row);
  return qv::codepage::utf16_to_cp936(text);
}

std::optional<std::vector<Contact>> ParseContactCsv(const std::string& bytes) {
  const auto records = split_records(decode_csv(bytes));
  if (records.empty()) return std::nullopt;
  const auto& header = records.front();
  std::size_t name_col = header.size(), number_col = header.size();
  for (std::size_t c = 0; c < header.size(); ++c) {
    if (name_col == header.size() && same_ignoring_case(header[c], "First Name")) name_col = c;
    if (number_col == header.size() && same_ignoring_case(header[c], "Mobile Phone")) number_col = c;
  }
  if (name_col == header.size() || number_col == header.size()) return std::nullopt;
  const std::size_t needed = std::max(name_col, number_col);
  std::vector<Contact> out;
  for (std::size_t r = 1; r < records.size(); ++r) {
    const auto& fields = records[r];
    if (fields.size() > needed) out.push_back({fields[name_col], fields[number_col]});
  }
  return out;
}

}  // namespace desktop
