#include "qv/scrambled_container.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace fs = std::filesystem;
using tiv_test_files::Entry;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::WriteArchive;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Scrambles a plain zip the way the container does.
std::vector<std::uint8_t> Scramble(const std::string& zip, std::array<std::uint8_t, 4> key) {
  std::vector<std::uint8_t> out(4 + zip.size());
  std::copy(key.begin(), key.end(), out.begin());
  std::copy(zip.begin(), zip.end(), out.begin() + 4);
  for (std::size_t i = 4; i < out.size(); ++i) out[i] ^= key[i % 4];
  return out;
}

std::string ZipOf(const std::vector<Entry>& entries) {
  TempDir dir;
  const fs::path file = dir.path() / "z.zip";
  WriteArchive(file, tiv_test_files::Format::kZip, entries);
  return ReadFile(file);
}

std::uint32_t Get32(const std::vector<std::uint8_t>& v, std::size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<std::uint32_t>(v[at + 3]) << 24);
}

void Put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

const std::string kDoc = "<db><VIDs><VID Value='18D1'/></VIDs><Devices/></db>";

}  // namespace

TEST(ScrambledContainer, WriterAndReaderRoundTrip) {
  std::string binary;
  for (std::uint32_t i = 0; i < 300000; ++i) binary.push_back(static_cast<char>((i * 7919u) >> 3));
  const std::string docs[] = {kDoc, "", binary};
  const std::array<std::uint8_t, 4> keys[] = {
      {0x54, 0x56, 0x44, 0x42}, {0xFF, 0x00, 0x80, 0x01}, {0, 0, 0, 0}};
  for (const auto& doc : docs) {
    for (const auto& key : keys) {
      auto c = qv::container::WriteScrambledDocument(doc, key);
      ASSERT_GE(c.size(), 4u);
      EXPECT_TRUE(std::equal(key.begin(), key.end(), c.begin()));
      EXPECT_TRUE(qv::container::ReadScrambledDocument(c) == doc);  // no diff dump of 300 kB
      EXPECT_EQ(qv::container::WriteScrambledDocument(doc, key), c);  // same input, same bytes
    }
  }
}

TEST(ScrambledContainer, ZeroKeyIsAPlainZipBehindFourZeroBytes) {
  auto c = qv::container::WriteScrambledDocument(kDoc, {0, 0, 0, 0});
  ASSERT_GT(c.size(), 8u);
  EXPECT_EQ(std::memcmp(c.data(), "\0\0\0\0PK\x03\x04", 8), 0);
  // And a zip made by another writer reads the same way.
  const std::string zip = ZipOf({{"readme.txt", "no"}, {"MY.DT", kDoc}});
  auto other = Scramble(zip, {0, 0, 0, 0});
  EXPECT_EQ(qv::container::ReadScrambledDocument(other), kDoc);
  auto keyed = Scramble(zip, {0x12, 0x34, 0x56, 0x78});
  EXPECT_EQ(qv::container::ReadScrambledDocument(keyed), kDoc);
}

TEST(ScrambledContainer, BadContainersGiveAnEmptyDocument) {
  const std::array<std::uint8_t, 4> key{9, 8, 7, 6};
  const auto good = qv::container::WriteScrambledDocument(kDoc, key);
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"three bytes", {1, 2, 3}});
  cases.push_back({"key only", {good.begin(), good.begin() + 4}});
  cases.push_back({"missing my.dt", Scramble(ZipOf({{"other.dt", kDoc}, {"my.dt.bak", kDoc}}), key)});
  cases.push_back({"not a zip", Scramble(std::string(200, 'x'), key)});
  cases.push_back({"unscrambled zip", Bytes("\x01\x02\x03\x04" + ZipOf({{"my.dt", kDoc}}))});
  for (std::size_t cut : {good.size() - 22, good.size() - 30, good.size() / 2, std::size_t(10)})
    cases.push_back({"cut at " + std::to_string(cut), {good.begin(), good.begin() + cut}});
  {
    auto flipped = good;
    flipped[4 + 30 + 5 + 2] ^= 0x40;  // inside the deflated data: CRC or inflate fails
    cases.push_back({"damaged data", flipped});
  }
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(qv::container::ReadScrambledDocument(bytes), "");
  }
  EXPECT_EQ(qv::container::ReadScrambledDocument(nullptr, 0), "");
}

TEST(ScrambledContainer, DeclaredSizesAreNotTrusted) {
  const std::array<std::uint8_t, 4> key{0, 0, 0, 0};
  const auto good = qv::container::WriteScrambledDocument(kDoc, key);
  // Offsets of the uncompressed size in the local header (4 + 22) and the central header.
  const std::size_t local_size = 4 + 22;
  const std::size_t eocd = good.size() - 22;
  const std::size_t central = 4 + Get32(good, eocd + 16);
  ASSERT_EQ(Get32(good, central), 0x02014b50u);
  const std::size_t central_size = central + 24;
  ASSERT_EQ(Get32(good, local_size), kDoc.size());
  ASSERT_EQ(Get32(good, central_size), kDoc.size());

  for (std::uint32_t declared : {0xFFFFFFF0u, std::uint32_t(qv::container::kMaxScrambledDocumentSize + 1),
                                 std::uint32_t(kDoc.size() + 1), std::uint32_t(kDoc.size() - 1), 0u}) {
    SCOPED_TRACE(declared);
    auto bad = good;
    Put32(bad, local_size, declared);
    Put32(bad, central_size, declared);
    EXPECT_EQ(qv::container::ReadScrambledDocument(bad), "");
  }
  EXPECT_TRUE(qv::container::WriteScrambledDocument(std::string(qv::container::kMaxScrambledDocumentSize + 1, 'a'),
                                              key)
                  .empty());
}

TEST(DeviceDatabase, BuiltContainerHoldsTheSourceDocument) {
  std::string container = ReadFile(TIVOREL_DEVDB_CONTAINER);
  const std::string source = ReadFile(TIVOREL_DEVDB_SOURCE);
  ASSERT_GT(source.size(), 1000u);
  const std::string doc = qv::container::ReadScrambledDocument(Bytes(container));
  ASSERT_EQ(doc, source);

  qv::xml::basic_xml_dom_parser parser;
  ASSERT_TRUE(parser.parse_buffer(doc));
  auto root = parser.root();
  auto vids = root->child(u"VIDs");
  auto devices = root->child(u"Devices");
  ASSERT_TRUE(vids);
  ASSERT_TRUE(devices);
  // Every vendor family the database is meant to know.
  std::size_t vid_count = 0;
  std::set<std::u16string> values;
  for (std::size_t i = 0; i < vids->child_count(); ++i) {
    auto vid = vids->child(i);
    if (vid->name() != u"VID") continue;
    ++vid_count;
    ASSERT_TRUE(vid->attribute(u"Value"));
    values.insert(*vid->attribute(u"Value"));
  }
  EXPECT_EQ(values.size(), vid_count) << "a vendor id is listed twice";
  for (const char16_t* v : {u"18D1", u"04E8", u"2717", u"12D1", u"2A70", u"22D9", u"2D95", u"22B8",
                            u"0FCE", u"1004", u"0BB4", u"19D2", u"17EF", u"0B05", u"2E04", u"0E8D",
                            u"05C6"})
    EXPECT_EQ(values.count(v), 1u) << qv::xml::to_utf8(v);
  EXPECT_GE(vid_count, 20u);
  EXPECT_GE(devices->child_count(), vid_count);
}
