// Contact backups (scrambled XML with an index) and contact CSV files.
#include <gtest/gtest.h>

#include "desktop/contacts.h"
#include "test_files.h"

#include "qv/codepage.h"
#include "qv/text.h"
#include "qv/xml.h"

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

using desktop::Contact;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::WriteFile;
namespace fs = std::filesystem;

namespace {

std::u16string U(const std::string& utf8) { return qv::text::utf8_to_utf16(utf8.data(), utf8.size()); }

// Windows path text of a folder, with its trailing separator.
std::u16string Folder(const fs::path& p) { return p.u16string() + u"\\"; }

std::tm Moment(int sec) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = sec;
  return t;
}

const std::vector<Contact> kPeople = {
    {u"张三", u"13800000000"},
    {U("Ann \"A\" <&>"), u"+86 10 1234"},
    {u"", u""},
};

TEST(ContactBackup, NameFollowsTheLocalTime) {
  EXPECT_EQ(desktop::ContactBackupName(Moment(7)), U("2026年12月10日09时05分07秒"));
}

TEST(ContactBackup, SaveIndexListRestoreRoundTrip) {
  TempDir dir;
  const auto name = desktop::SaveContactBackup(Folder(dir.path()), u"phone", kPeople, Moment(7),
                                               0xA1B2C3D4u);
  ASSERT_TRUE(name);
  EXPECT_EQ(*name, U("2026年12月10日09时05分07秒"));

  // The file: the key, then the document XORed with it.
  const std::string raw = ReadFile(dir.path() / fs::path(*name));
  ASSERT_GT(raw.size(), 4u);
  EXPECT_EQ(raw.substr(0, 4), "\xD4\xC3\xB2\xA1");
  std::string doc;
  for (std::size_t i = 4; i < raw.size(); ++i) doc.push_back(static_cast<char>(raw[i] ^ raw[i % 4]));
  qv::xml::basic_xml_dom_parser parser;
  ASSERT_TRUE(parser.parse_buffer(doc)) << doc;
  EXPECT_EQ(parser.root()->name(), u"Contact");
  const auto info = parser.root()->child(u"Info");
  ASSERT_TRUE(info);
  EXPECT_EQ(*info->attribute(u"time"), *name);
  EXPECT_EQ(*info->attribute(u"title"), u"phone");

  const auto second = desktop::SaveContactBackup(Folder(dir.path()), u"tablet", {kPeople[0]},
                                                 Moment(8), 1);
  ASSERT_TRUE(second);

  const auto list = desktop::ReadContactBackupList(Folder(dir.path()));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0].title, u"phone");
  EXPECT_EQ((*list)[0].date, *name);
  EXPECT_EQ((*list)[1].title, u"tablet");
  EXPECT_EQ((*list)[1].date, *second);

  const auto restored = desktop::RestoreContactBackup(Folder(dir.path()), u"phone " + *name);
  ASSERT_TRUE(restored);
  EXPECT_EQ(*restored, kPeople);
  EXPECT_FALSE(fs::exists(dir.path() / fs::path(*name + u".tmp")));
}

TEST(ContactBackup, TwoBackupsInOneSecondKeepBoth) {
  TempDir dir;
  const auto a = desktop::SaveContactBackup(Folder(dir.path()), u"t", {kPeople[0]}, Moment(1), 5);
  const auto b = desktop::SaveContactBackup(Folder(dir.path()), u"t", {kPeople[1]}, Moment(1), 6);
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(*b, *a + u"(2)");
  EXPECT_EQ(*desktop::RestoreContactBackup(Folder(dir.path()), u"t " + *a),
            std::vector<Contact>{kPeople[0]});
  EXPECT_EQ(*desktop::RestoreContactBackup(Folder(dir.path()), u"t " + *b),
            std::vector<Contact>{kPeople[1]});
}

TEST(ContactBackup, BadRequestsGiveNothing) {
  TempDir dir;
  const auto name = desktop::SaveContactBackup(Folder(dir.path()), u"t", kPeople, Moment(2), 77);
  ASSERT_TRUE(name);
  const std::u16string f = Folder(dir.path());
  EXPECT_FALSE(desktop::RestoreContactBackup(f, *name));                  // one piece
  EXPECT_FALSE(desktop::RestoreContactBackup(f, u"t " + *name + u" x"));  // three pieces
  EXPECT_FALSE(desktop::RestoreContactBackup(f, u""));
  EXPECT_FALSE(desktop::RestoreContactBackup(f, u"t missing"));
  EXPECT_FALSE(desktop::RestoreContactBackup(f, u"t ..\\" + *name));  // no climbing out
  // A damaged key makes the document unreadable.
  const fs::path file = dir.path() / fs::path(*name);
  std::string raw = ReadFile(file);
  raw[0] = static_cast<char>(raw[0] ^ 0x5A);
  WriteFile(file, raw);
  EXPECT_FALSE(desktop::RestoreContactBackup(f, u"t " + *name));
  WriteFile(file, "abc");  // shorter than a key
  EXPECT_FALSE(desktop::RestoreContactBackup(f, u"t " + *name));
}

TEST(ContactBackup, IndexMissingOrDamaged) {
  TempDir dir;
  EXPECT_FALSE(desktop::ReadContactBackupList(Folder(dir.path())));
  WriteFile(dir.path() / "contactRecord.xml", "<Root><node title=\"x\"");
  EXPECT_FALSE(desktop::ReadContactBackupList(Folder(dir.path())));
  // Entries without both attributes are left out.
  WriteFile(dir.path() / "contactRecord.xml",
            "<Root><node title=\"a\" date=\"d1\"/><node title=\"b\"/><node date=\"d3\"/></Root>");
  const auto list = desktop::ReadContactBackupList(Folder(dir.path()));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ((*list)[0].date, u"d1");
}

// An index that is there but cannot be read still lists every earlier backup: a backup then
// fails before writing anything, and the index stays as it was.
TEST(ContactBackup, AnUnreadableIndexIsNeverReplaced) {
  const std::string earlier = "<Root><node title=\"old\" date=\"d1\"/></Root>";
  const struct {
    const char* what;
    void (*make)(const fs::path& index, const std::string& earlier);
  } cases[] = {
      {"damaged", [](const fs::path& index, const std::string& e) { WriteFile(index, e.substr(0, e.size() - 8)); }},
      {"larger than the reader takes",
       [](const fs::path& index, const std::string& e) {
         WriteFile(index, e);
         fs::resize_file(index, (64u << 20) + 1);
       }},
      {"a folder in its place",
       [](const fs::path& index, const std::string&) { fs::create_directories(index / "inner"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path index = dir.path() / "contactRecord.xml";
    c.make(index, earlier);
    const bool folder = fs::is_directory(index);
    const auto size = folder ? 0 : fs::file_size(index);
    const std::string head = folder ? "" : ReadFile(index).substr(0, 64);

    EXPECT_FALSE(desktop::SaveContactBackup(Folder(dir.path()), u"phone", kPeople, Moment(3), 9));
    ASSERT_EQ(folder, fs::is_directory(index));
    if (!folder) {
      EXPECT_EQ(size, fs::file_size(index));
      EXPECT_EQ(head, ReadFile(index).substr(0, 64));
    }
    std::vector<fs::path> entries;
    for (const auto& e : fs::directory_iterator(dir.path())) entries.push_back(e.path());
    EXPECT_EQ(std::vector<fs::path>{index}, entries) << "no backup file was left behind";
  }
}

// ---- CSV --------------------------------------------------------------------------------------

std::string Utf16Le(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}
std::string Utf16Be(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  return out;
}

TEST(ContactCsv, EachEncoding) {
  const std::string text_utf8 = "Title,First Name,Mobile Phone\r\nMr,张三,138\r\n,Bob,139\r\n";
  const std::u16string text = U(text_utf8);
  const std::vector<Contact> want = {{u"张三", u"138"}, {u"Bob", u"139"}};
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + text_utf8},
      {"UTF-8 without a mark", text_utf8},
      {"UTF-16LE with its mark", "\xFF\xFE" + Utf16Le(text)},
      {"UTF-16BE with its mark", "\xFE\xFF" + Utf16Be(text)},
      {"code page 936", qv::codepage::utf16_to_cp936(text)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto got = desktop::ParseContactCsv(c.bytes);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, want);
  }
}

TEST(ContactCsv, Utf16WithoutMarkIsRecognisedByItsStatistics) {
  const auto got = desktop::ParseContactCsv(Utf16Le(u"First Name,Mobile Phone\r\nAnn,1\r\nBo,22\r\n"));
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (std::vector<Contact>{{u"Ann", u"1"}, {u"Bo", u"22"}}));
}

TEST(ContactCsv, HeaderCaseQuotingAndShortRows) {
  const std::string csv =
      "\"mobile phone\",x,FIRST NAME\n"
      "\"1,2\",a,\"Lee \"\"Jr\"\"\"\n"  // comma and doubled quotes inside quotes
      "3,b\n"                           // too few fields: no contact
      "4,,\n"                           // a trailing comma adds no field: still too few
      "5,,Kim\r\n"
      "\n"
      "\"6\",c,,\n";                    // the empty third field makes it long enough
  const auto got = desktop::ParseContactCsv(csv);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (std::vector<Contact>{{u"Lee \"Jr\"", u"1,2"}, {u"Kim", u"5"}, {u"", u"6"}}));
}

TEST(ContactCsv, MissingColumnsGiveNothing) {
  EXPECT_FALSE(desktop::ParseContactCsv("First Name,Phone\r\nA,1\r\n"));
  EXPECT_FALSE(desktop::ParseContactCsv("Name,Mobile Phone\r\nA,1\r\n"));
  EXPECT_FALSE(desktop::ParseContactCsv(""));
}

TEST(ContactCsv, AnEmptyLastFieldReadsBack) {
  // The number is the last column: a contact without one must survive the round trip (a
  // trailing comma alone adds no field, which would drop the whole row).
  const std::vector<std::vector<std::u16string>> rows = {{u"Ann", u""}, {u"", u"1"}, {u"", u""}};
  const std::string bytes = desktop::FormatContactCsv({u"First Name", u"Mobile Phone"}, rows);
  EXPECT_EQ(bytes, "First Name,Mobile Phone\r\nAnn,\"\"\r\n,1\r\n,\"\"\r\n");
  const auto back = desktop::ParseContactCsv(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, (std::vector<Contact>{{u"Ann", u""}, {u"", u"1"}, {u"", u""}}));
}

TEST(ContactCsv, WrittenInCodePage936WithCrLfAndReadBackWithHostileFields) {
  const std::vector<std::u16string> header = {u"First Name", u"Mobile Phone", u"Note"};
  const std::vector<std::vector<std::u16string>> rows = {
      {u"张三", u"138", u"plain"},
      {u"Smith, John", u"\"139\"", u"two\r\nlines"},
      {u"\"quoted\"", u"1,2,3", u"end\n"},
      {u"", u"", u""},
  };
  const std::string bytes = desktop::FormatContactCsv(header, rows);
  const std::string first = "First Name,Mobile Phone,Note\r\n";
  EXPECT_EQ(bytes.substr(0, first.size()), first);
  EXPECT_NE(bytes.find("\xD5\xC5\xC8\xFD,138,plain\r\n"), std::string::npos);  // 张三 in GBK
  EXPECT_NE(bytes.find("\"Smith, John\",\"\"\"139\"\"\",\"two\r\nlines\"\r\n"), std::string::npos);
  const auto back = desktop::ParseContactCsv(bytes);
  ASSERT_TRUE(back);
  std::vector<Contact> want;
  for (const auto& r : rows) want.push_back({r[0], r[1]});
  EXPECT_EQ(*back, want);
}

}  // namespace
