#include "devdb_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A small valid database; each case below breaks one thing in it.
const std::string kGood =
    "<DeviceDatabase><VIDs>"
    "<VID Value='18D1'><ProductId>vendor_google</ProductId>"
    "<PIDs><G><ProductId>pixel</ProductId><Value>4EE7</Value><Value>4EE2</Value></G></PIDs>"
    "<Names><G><ProductId>pixel</ProductId><Value>^[0-9A-F]{12}$</Value></G></Names>"
    "<Modals><G><ProductId>pixel</ProductId><Value>File-Stor_Gadget</Value></G></Modals>"
    "</VID>"
    "<VID Value='04E8'><ProductId>vendor_samsung</ProductId></VID>"
    "</VIDs><Devices>"
    "<Device><ProductId>pixel</ProductId><Brand>Google</Brand><Type>1</Type></Device>"
    "</Devices></DeviceDatabase>";

devdb::CheckResult CheckText(const std::string& text) {
  qv::xml::basic_xml_dom_parser p;
  EXPECT_TRUE(p.parse_buffer(text)) << text;
  return devdb::Check(p.root());
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  auto at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

}  // namespace

TEST(DevdbCheck, AValidDatabasePasses) {
  auto r = CheckText(kGood);
  EXPECT_TRUE(r.errors.empty()) << r.errors.front();
  EXPECT_EQ(r.vendor_count, 2u);
  EXPECT_EQ(r.device_count, 1u);
}

TEST(DevdbCheck, MistakesAreReported) {
  struct Case {
    const char* what;
    std::string doc;
    const char* message;  // part of the expected error
  };
  const Case cases[] = {
      {"lower-case vendor id", Replace(kGood, "'18D1'", "'18d1'"), "vendor id '18d1'"},
      {"short vendor id", Replace(kGood, "'04E8'", "'4E8'"), "vendor id '4E8'"},
      {"duplicate vendor", Replace(kGood, "'04E8'", "'18D1'"), "listed twice"},
      {"vendor without Value", Replace(kGood, "Value='04E8'", "Valu='04E8'"), "VID without Value"},
      {"bad product id", Replace(kGood, "<Value>4EE2</Value>", "<Value>4EEG</Value>"), "'4EEG'"},
      {"group names no device", Replace(kGood, "<PIDs><G><ProductId>pixel", "<PIDs><G><ProductId>pixle"),
       "'pixle' names no Device"},
      {"group without values",
       Replace(kGood, "<Value>4EE7</Value><Value>4EE2</Value>", ""), "group without Value"},
      {"bad serial pattern", Replace(kGood, "^[0-9A-F]{12}$", "^[0-9A-F{12}$"), "not a valid regular"},
      {"blank storage string", Replace(kGood, "File-Stor_Gadget", " File"), "malformed"},
      {"stray element in group", Replace(kGood, "<Value>4EE2</Value>", "<Valeu>4EE2</Valeu>"),
       "unexpected element 'Valeu'"},
      {"device without id", Replace(kGood, "<ProductId>pixel</ProductId><Brand>", "<Brand>"),
       "Device without ProductId"},
      {"padded device id", Replace(kGood, "<ProductId>pixel</ProductId><Brand>", "<ProductId> pixel</ProductId><Brand>"),
       "blanks"},
      {"type not a number", Replace(kGood, "<Type>1</Type>", "<Type>phone</Type>"), "Type 'phone'"},
      {"no Devices", Replace(Replace(kGood, "<Devices>", "<Devicez>"), "</Devices>", "</Devicez>"),
       "no Devices element"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = CheckText(c.doc);
    ASSERT_FALSE(r.errors.empty());
    bool found = false;
    for (const auto& e : r.errors) found = found || e.find(c.message) != std::string::npos;
    EXPECT_TRUE(found) << r.errors.front();
  }
  EXPECT_FALSE(devdb::Check(nullptr).errors.empty());
}
