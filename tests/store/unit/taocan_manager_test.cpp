#include "store/taocan_manager.h"

#include <gtest/gtest.h>

#include <functional>

#include "store/sqlite_manager.h"
#include "qv/path.h"
#include "store_fixture.h"

using store::taocan_manager;

namespace {

std::string yes_no(bool b) { return b ? "true" : "false"; }

std::string list(const std::vector<store::taocan_entry>& v) {
  std::string s;
  for (const auto& e : v) s += e.taocan + ":" + std::to_string(e.type) + ";";
  return s;
}

std::string list(const std::vector<store::taocan_item_entry>& v) {
  std::string s;
  for (const auto& e : v)
    s += e.file_path + "|" + std::to_string(e.media_type) + "|" + yes_no(e.select) + "|" +
         e.pack_name + "|" + e.label + "|" + e.icon + ";";
  return s;
}

// One bundle's life as the user interface drives it, step by step on one database; each row
// is an operation and what it must answer.
TEST(TaocanManagerTest, BundleLifeStepByStep) {
  store_test::scratch_dir dir;
  const auto file = dir / "Download.db";
  CSqliteManager db;
  ASSERT_TRUE(db.open(qv::path::fs_path_utf16(file)));
  taocan_manager m(db);
  const std::string apps = "装机必备";
  const std::string evil = "a\"; drop table taocan_table; --";
  const std::string too_long(CSqliteManager::max_taocan_name_length() + 1, 'n');
  const std::string longest(CSqliteManager::max_taocan_name_length(), 'n');

  struct step {
    const char* what;
    std::function<std::string()> run;
    std::string expected;
  };
  const step steps[] = {
      {"unknown bundle", [&] { return yes_no(m.is_taocan_exist(apps)); }, "false"},
      {"create", [&] { return yes_no(m.create_taocan(apps, 1)); }, "true"},
      {"exists", [&] { return yes_no(m.is_taocan_exist(apps)); }, "true"},
      {"create again", [&] { return yes_no(m.create_taocan(apps, 2)); }, "false"},
      {"listed once, type kept", [&] { return list(m.get_all_taocan()); }, apps + ":1;"},
      {"add item", [&] { return yes_no(m.add_to_taocan(apps, "C:\\a.apk", 1, true)); }, "true"},
      {"same path again", [&] { return yes_no(m.add_to_taocan(apps, "C:\\a.apk", 9, false)); },
       "false"},
      {"add second", [&] { return yes_no(m.add_to_taocan(apps, "C:\\b.apk", 2, false)); },
       "true"},
      {"modify missing path", [&] { return yes_no(m.modify_taocan_info(apps, "C:\\x", 5, true)); },
       "true"},
      {"modify", [&] { return yes_no(m.modify_taocan_info(apps, "C:\\b.apk", 3, true)); }, "true"},
      {"apk info",
       [&] { return yes_no(m.update_tao_apk_info(apps, "C:\\a.apk", "com.a", "甲", "a.png")); },
       "true"},
      {"items", [&] { return list(m.get_taocan_info(apps)); },
       "C:\\a.apk|1|true|com.a|甲|a.png;C:\\b.apk|3|true|||;"},
      {"delete item", [&] { return yes_no(m.delete_taocan_item(apps, "C:\\b.apk")); }, "true"},
      {"items after delete", [&] { return list(m.get_taocan_info(apps)); },
       "C:\\a.apk|1|true|com.a|甲|a.png;"},
      {"items of unknown bundle", [&] { return list(m.get_taocan_info("none")); }, ""},
      {"add to unknown bundle", [&] { return yes_no(m.add_to_taocan("none", "p", 1, true)); },
       "false"},
      {"create injection name", [&] { return yes_no(m.create_taocan(evil, 4)); }, "true"},
      {"fill injection name", [&] { return yes_no(m.add_to_taocan(evil, "e.apk", 1, false)); },
       "true"},
      {"both listed", [&] { return list(m.get_all_taocan()); }, apps + ":1;" + evil + ":4;"},
      {"injection items", [&] { return list(m.get_taocan_info(evil)); },
       "e.apk|1|false|||;"},
      {"drop injection name", [&] { return yes_no(m.drop_taocan(evil)); }, "true"},
      {"first bundle untouched", [&] { return list(m.get_taocan_info(apps)); },
       "C:\\a.apk|1|true|com.a|甲|a.png;"},
      {"name too long", [&] { return yes_no(m.create_taocan(too_long, 1)); }, "false"},
      {"longest name", [&] { return yes_no(m.create_taocan(longest, 1)); }, "true"},
      {"drop longest", [&] { return yes_no(m.drop_taocan(longest)); }, "true"},
      {"drop", [&] { return yes_no(m.drop_taocan(apps)); }, "true"},
      {"gone from the list", [&] { return list(m.get_all_taocan()); }, ""},
      {"drop again", [&] { return yes_no(m.drop_taocan(apps)); }, "false"},
      {"bad UTF-8 name", [&] { return yes_no(m.create_taocan("x\xFFy", 1)); }, "true"},
      {"listed with a replacement character", [&] { return list(m.get_all_taocan()); },
       "x\xEF\xBF\xBDy:1;"},
  };
  for (const step& s : steps) EXPECT_EQ(s.run(), s.expected) << s.what;
}

}  // namespace
