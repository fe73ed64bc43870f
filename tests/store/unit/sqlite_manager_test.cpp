#include "store/sqlite_manager.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "qv/path.h"
#include "qv/text.h"
#include "store_fixture.h"

using qv::text::utf16_to_utf8;
using qv::text::utf8_to_utf16;
using store_test::dump_of;
using store_test::exec_raw;
using store_test::schema_of;

namespace {

const char kExpectedSchema[] =
    "CREATE TABLE task_info_table (task_id int PRIMARY KEY not null, \t\t task_type int, \t\t "
    "task_state int, \t\t task_priorty int, \t\t file_pos int64,\t\t file_size int64,\t\t "
    "file_path text,\t\t spend_time int,\t\t show_name text,\t\t download_url text,\t\t "
    "logoUrl text,\t\t gid  text);\n"
    "CREATE TABLE taocan_table (name text PRIMARY KEY not null, \t\t taocan_type int);\n";

task_record sample_task(std::int32_t id) {
  task_record t;
  t.task_id = id;
  t.task_type = 2;
  t.task_priority = 4;
  t.file_pos = 5'000'000'000LL;  // beyond 32 bits on purpose
  t.file_size = 6'000'000'123LL;
  t.file_path = u"C:\\下载\\游戏 " + utf8_to_utf16(std::to_string(id)) + u".apk";
  t.spend_time = 17;
  t.show_name = u"游戏\U0001F600";
  t.task_state = 3;
  t.download_url = u"http://example.com/a?b=c&d='e'";
  t.logo_url = u"http://example.com/logo.png";
  t.gid = u"g-1";
  return t;
}

void expect_same_task(const task_record& a, const task_record& b) {
  EXPECT_EQ(a.task_id, b.task_id);
  EXPECT_EQ(a.task_type, b.task_type);
  EXPECT_EQ(a.task_priority, b.task_priority);
  EXPECT_EQ(a.file_pos, b.file_pos);
  EXPECT_EQ(a.file_size, b.file_size);
  EXPECT_EQ(a.file_path, b.file_path);
  EXPECT_EQ(a.spend_time, b.spend_time);
  EXPECT_EQ(a.show_name, b.show_name);
  EXPECT_EQ(a.task_state, b.task_state);
  EXPECT_EQ(a.download_url, b.download_url);
  EXPECT_EQ(a.logo_url, b.logo_url);
  EXPECT_EQ(a.gid, b.gid);
}

class SqliteManagerTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir_ / "Download.db"; }
  std::u16string file16() const { return qv::path::fs_path_utf16(file()); }
  bool reopen() { return db_.open(file16()); }

  store_test::scratch_dir dir_;
  CSqliteManager db_;
};

TEST_F(SqliteManagerTest, FreshFileHasExactSchemaAndNoTasks) {
  ASSERT_TRUE(reopen());
  EXPECT_EQ(db_.next_task_id(), 0);
  EXPECT_TRUE(db_.loaded_tasks().empty());
  db_.close();
  EXPECT_EQ(schema_of(file()), kExpectedSchema);
}

TEST_F(SqliteManagerTest, ReopenKeepsTablesAndReadsStoredTasks) {
  ASSERT_TRUE(reopen());
  ASSERT_TRUE(db_.add_task(sample_task(9)));
  ASSERT_TRUE(db_.add_task(sample_task(3)));
  // What was read at open does not follow later changes.
  EXPECT_EQ(db_.next_task_id(), 0);
  EXPECT_TRUE(db_.loaded_tasks().empty());

  ASSERT_TRUE(reopen());
  EXPECT_EQ(db_.next_task_id(), 10);
  ASSERT_EQ(db_.loaded_tasks().size(), 2u);
  for (const task_record& t : db_.loaded_tasks()) expect_same_task(t, sample_task(t.task_id));
  db_.close();
  EXPECT_EQ(schema_of(file()), kExpectedSchema);
}

TEST_F(SqliteManagerTest, NullTextColumnsReadAsEmpty) {
  ASSERT_TRUE(reopen());
  db_.close();
  ASSERT_TRUE(exec_raw(file(), "insert into task_info_table (task_id, file_pos) values (5, 7)"));
  ASSERT_TRUE(reopen());
  ASSERT_EQ(db_.loaded_tasks().size(), 1u);
  const task_record& t = db_.loaded_tasks()[0];
  EXPECT_EQ(t.task_id, 5);
  EXPECT_EQ(t.file_pos, 7);
  EXPECT_TRUE(t.file_path.empty());
  EXPECT_TRUE(t.gid.empty());
  EXPECT_EQ(db_.next_task_id(), 6);
}

TEST_F(SqliteManagerTest, TaskRowsAreAddedUpdatedAndDeleted) {
  ASSERT_TRUE(reopen());
  ASSERT_TRUE(db_.add_task(sample_task(1)));
  EXPECT_FALSE(db_.add_task(sample_task(1))) << "task_id is the primary key";
  EXPECT_TRUE(db_.update_task_progress(1, 4'294'967'296LL + 5, 8'589'934'592LL, 1));
  EXPECT_TRUE(db_.update_task_progress(42, 1, 2, 1)) << "no row to touch is still done";
  ASSERT_TRUE(reopen());
  ASSERT_EQ(db_.loaded_tasks().size(), 1u);
  EXPECT_EQ(db_.loaded_tasks()[0].file_pos, 4'294'967'296LL + 5);
  EXPECT_EQ(db_.loaded_tasks()[0].file_size, 8'589'934'592LL);
  EXPECT_EQ(db_.loaded_tasks()[0].task_state, 1);
  EXPECT_TRUE(db_.delete_task(1));
  ASSERT_TRUE(reopen());
  EXPECT_TRUE(db_.loaded_tasks().empty());
  EXPECT_EQ(db_.next_task_id(), 0);
}

TEST_F(SqliteManagerTest, MissingFolderFailsOpenAndEveryOperation) {
  EXPECT_FALSE(db_.open(qv::path::fs_path_utf16(dir_ / "no" / "such" / "Download.db")));
  EXPECT_FALSE(db_.is_open());
  EXPECT_FALSE(db_.add_task(sample_task(1)));
  EXPECT_FALSE(db_.delete_task(1));
  EXPECT_FALSE(db_.update_task_progress(1, 0, 0, 0));
  EXPECT_FALSE(db_.taocan_exists(u"A"));
  EXPECT_FALSE(db_.create_taocan(u"A", 1));
  taocan_media_record m;
  m.taocan = u"A";
  m.media_path = u"x";
  EXPECT_FALSE(db_.add_taocan_item(m));
  EXPECT_FALSE(db_.update_taocan_item_select(m));
  EXPECT_FALSE(db_.update_taocan_item_info(m));
  EXPECT_FALSE(db_.delete_taocan_item(u"A", u"x"));
  EXPECT_FALSE(db_.drop_taocan(u"A"));
  EXPECT_TRUE(db_.get_all_taocans().empty());
  EXPECT_TRUE(db_.get_taocan_items(u"A").empty());
  EXPECT_EQ(db_.next_task_id(), 0);
  db_.close();
  db_.close();
}

TEST_F(SqliteManagerTest, FileThatIsNotADatabaseIsRefusedAndLeftAlone) {
  const std::string junk(3000, 'x');
  { std::ofstream(file(), std::ios::binary) << junk; }
  EXPECT_FALSE(reopen());
  EXPECT_FALSE(db_.add_task(sample_task(1)));
  std::ifstream in(file(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), junk);
}

TEST_F(SqliteManagerTest, WriteWhileAnotherConnectionHoldsTheLockFailsAndChangesNothing) {
  ASSERT_TRUE(reopen());
  ASSERT_TRUE(db_.add_task(sample_task(1)));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(qv::path::fs_path_utf8(file()).c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(db_.update_task_progress(1, 99, 99, 5));
  EXPECT_FALSE(db_.add_task(sample_task(2)));
  ASSERT_EQ(sqlite3_exec(other, "commit", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close_v2(other);
  // Once the lock is gone the same connection works again.
  EXPECT_TRUE(db_.add_task(sample_task(2)));
  ASSERT_TRUE(reopen());
  ASSERT_EQ(db_.loaded_tasks().size(), 2u);
  for (const task_record& t : db_.loaded_tasks()) EXPECT_NE(t.file_pos, 99);
}

// ---- bundles ----------------------------------------------------------------------------

class TaocanTest : public SqliteManagerTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reopen());
    ASSERT_TRUE(db_.add_task(sample_task(1)));
  }
  static taocan_media_record item(const std::u16string& taocan, const std::u16string& path) {
    taocan_media_record m;
    m.taocan = taocan;
    m.media_path = path;
    m.media_type = 1;
    m.media_select = 1;
    return m;
  }
};

struct name_case {
  const char* label;
  std::u16string name;
};

std::u16string longest_name(std::size_t extra) {
  return std::u16string(CSqliteManager::max_taocan_name_length() + extra, u'名');
}

// Every bundle operation works for each of these names, and none of them changes anything
// outside its own bundle.
TEST_F(TaocanTest, EveryOperationWorksForUnusualNames) {
  const name_case cases[] = {
      {"plain", u"A"},
      {"blank", u"my apps"},
      {"double quote", u"say \"hi\""},
      {"single quote", u"it's"},
      {"semicolon", u"a;b"},
      {"chinese", u"装机必备"},
      {"emoji", u"\U0001F600"},
      {"empty", u""},
      {"brackets and comment", u"[x]`y`--/*z"},
      {"injection", u"a\"; drop table taocan_table; --"},
      {"longest accepted", longest_name(0)},
  };
  const std::string before = dump_of(file());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_FALSE(db_.taocan_exists(c.name));
    ASSERT_TRUE(db_.create_taocan(c.name, 7));
    EXPECT_TRUE(db_.taocan_exists(c.name));
    const auto all = db_.get_all_taocans();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].name, c.name);
    EXPECT_EQ(all[0].taocan_type, 7);

    EXPECT_TRUE(db_.add_taocan_item(item(c.name, u"C:\\a.apk")));
    EXPECT_TRUE(db_.add_taocan_item(item(c.name, u"C:\\b.apk")));
    EXPECT_FALSE(db_.add_taocan_item(item(c.name, u"C:\\a.apk"))) << "media_path is the key";
    auto sel = item(c.name, u"C:\\b.apk");
    sel.media_type = 3;
    sel.media_select = 0;
    EXPECT_TRUE(db_.update_taocan_item_select(sel));
    auto info = item(c.name, u"C:\\b.apk");
    info.media_packname = u"com.example.b";
    info.media_showname = u"乙";
    info.media_icon = u"C:\\icons\\b.png";
    EXPECT_TRUE(db_.update_taocan_item_info(info));
    const auto items = db_.get_taocan_items(c.name);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].media_path, u"C:\\a.apk");
    EXPECT_EQ(items[0].media_select, 1);
    EXPECT_EQ(items[1].media_path, u"C:\\b.apk");
    EXPECT_EQ(items[1].taocan, c.name);
    EXPECT_EQ(items[1].media_type, 3);
    EXPECT_EQ(items[1].media_select, 0);
    EXPECT_EQ(items[1].media_packname, u"com.example.b");
    EXPECT_EQ(items[1].media_showname, u"乙");
    EXPECT_EQ(items[1].media_icon, u"C:\\icons\\b.png");
    EXPECT_TRUE(db_.delete_taocan_item(c.name, u"C:\\a.apk"));
    EXPECT_EQ(db_.get_taocan_items(c.name).size(), 1u);

    EXPECT_TRUE(db_.drop_taocan(c.name));
    EXPECT_FALSE(db_.taocan_exists(c.name));
    EXPECT_TRUE(db_.get_all_taocans().empty());
    EXPECT_EQ(dump_of(file()), before);
  }
}

TEST_F(TaocanTest, InjectionNameNamesOneTableAndTouchesNothingElse) {
  const std::u16string evil = u"a\"; drop table taocan_table; --";
  ASSERT_TRUE(db_.create_taocan(u"keep", 1));
  ASSERT_TRUE(db_.add_taocan_item(item(u"keep", u"k.apk")));
  const std::string before = dump_of(file());

  ASSERT_TRUE(db_.create_taocan(evil, 2));
  ASSERT_TRUE(db_.add_taocan_item(item(evil, u"x.apk")));
  const auto all = db_.get_all_taocans();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].name, evil);
  const std::string during = dump_of(file());
  EXPECT_NE(during.find("table|套餐_a\"; drop table taocan_table; --|"), std::string::npos)
      << during;
  ASSERT_EQ(db_.get_taocan_items(evil).size(), 1u);

  ASSERT_TRUE(db_.drop_taocan(evil));
  EXPECT_EQ(dump_of(file()), before);
}

TEST_F(TaocanTest, MediaTableIsNamedWithThePrefixAndTheTemplate) {
  ASSERT_TRUE(db_.create_taocan(u"A", 1));
  // Opened raw: the table is "套餐_A", created from the media template.
  EXPECT_TRUE(exec_raw(file(), "insert into 套餐_A values ('p', 1, 1, 'n', 's', 'i')"));
  EXPECT_EQ(db_.get_taocan_items(u"A").size(), 1u);
  const std::string dump = dump_of(file());
  EXPECT_NE(dump.find("table|套餐_A|套餐_A|CREATE TABLE \"套餐_A\" (media_path text PRIMARY KEY "
                      "not null, \t\t media_type int,\t\t media_select int,\t\t media_packname "
                      "text,\t\t media_showname text,\t\t media_icon)"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("  A|1|"), std::string::npos) << "taocan_table holds the bare name";
}

TEST_F(TaocanTest, TooLongOrNulNamesAreRefused) {
  const std::string before = dump_of(file());
  EXPECT_FALSE(db_.create_taocan(longest_name(1), 1));
  EXPECT_FALSE(db_.create_taocan(std::u16string(u"a\0b", 3), 1));
  EXPECT_FALSE(db_.taocan_exists(std::u16string(u"a\0b", 3)));
  EXPECT_EQ(dump_of(file()), before);
}

TEST_F(TaocanTest, CreatingAnExistingBundleFailsAndKeepsIt) {
  ASSERT_TRUE(db_.create_taocan(u"A", 1));
  ASSERT_TRUE(db_.add_taocan_item(item(u"A", u"p")));
  const std::string before = dump_of(file());
  EXPECT_FALSE(db_.create_taocan(u"A", 2));
  EXPECT_EQ(dump_of(file()), before);
}

TEST_F(TaocanTest, DroppingABundleWithoutMediaTableFailsAndKeepsItsRow) {
  ASSERT_TRUE(db_.create_taocan(u"A", 1));
  ASSERT_TRUE(exec_raw(file(), "drop table 套餐_A"));
  EXPECT_FALSE(db_.drop_taocan(u"A"));
  const auto all = db_.get_all_taocans();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, u"A");
}

TEST_F(TaocanTest, OperationsOnAMissingBundle) {
  EXPECT_FALSE(db_.taocan_exists(u"none"));
  EXPECT_TRUE(db_.get_taocan_items(u"none").empty());
  EXPECT_FALSE(db_.add_taocan_item(item(u"none", u"p")));
  EXPECT_FALSE(db_.delete_taocan_item(u"none", u"p"));
  EXPECT_FALSE(db_.drop_taocan(u"none"));
  // Only a media table counts as a bundle, not a fixed table of the same name.
  EXPECT_FALSE(db_.taocan_exists(u""));
  EXPECT_FALSE(db_.taocan_exists(u"task_info_table"));
}

}  // namespace
