#include "store/sqlite_manager.h"

#include <sqlite3.h>

#include <climits>
#include <functional>
#include <memory>

namespace {

const std::u16string kTaskTable = u"task_info_table";
const std::u16string kTaocanTable = u"taocan_table";
const std::u16string kTaocanPrefix = u"套餐_";

// Kept byte for byte: existing databases carry these texts in sqlite_master.
const std::u16string kCreateTaskTable =
    u"create table task_info_table (task_id int PRIMARY KEY not null, \t\t task_type int, \t\t "
    u"task_state int, \t\t task_priorty int, \t\t file_pos int64,\t\t file_size int64,\t\t "
    u"file_path text,\t\t spend_time int,\t\t show_name text,\t\t download_url text,\t\t "
    u"logoUrl text,\t\t gid  text);";
const std::u16string kCreateTaocanTable =
    u"create table taocan_table (name text PRIMARY KEY not null, \t\t taocan_type int);";
const std::u16string kCreateMediaHead = u"create table ";
const std::u16string kCreateMediaTail =
    u" (media_path text PRIMARY KEY not null, \t\t media_type int,\t\t media_select int,\t\t "
    u"media_packname text,\t\t media_showname text,\t\t media_icon);";

sqlite3_stmt* prepare(sqlite3* db, const std::u16string& sql) {
  if (db == nullptr || sql.size() > INT_MAX / 2) return nullptr;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare16_v2(db, sql.data(), static_cast<int>(sql.size() * 2), &raw, nullptr) !=
      SQLITE_OK)
    return nullptr;
  return raw;
}

// One statement run: prepared here and finalized when it goes out of scope, or borrowed from
// the connection's cache and left reset with no bindings.
class statement {
 public:
  statement(sqlite3* db, const std::u16string& sql) : stmt_(prepare(db, sql)), owned_(true) {}
  explicit statement(sqlite3_stmt* cached) : stmt_(cached), owned_(false) {}
  ~statement() {
    if (stmt_ == nullptr) return;
    if (owned_) {
      sqlite3_finalize(stmt_);
    } else {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  statement(const statement&) = delete;
  statement& operator=(const statement&) = delete;

  explicit operator bool() const { return stmt_ != nullptr; }

  bool bind(int index, const std::u16string& text) {
    if (!stmt_ || text.size() > INT_MAX / 2) return false;
    return sqlite3_bind_text16(stmt_, index, text.data(), static_cast<int>(text.size() * 2),
                               SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool bind(int index, std::int32_t value) {
    return stmt_ && sqlite3_bind_int(stmt_, index, value) == SQLITE_OK;
  }
  bool bind(int index, std::int64_t value) {
    return stmt_ &&
           sqlite3_bind_int64(stmt_, index, static_cast<sqlite3_int64>(value)) == SQLITE_OK;
  }

  // Runs a statement that returns no rows: one retry when the database is busy.
  bool execute() {
    if (!stmt_) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_BUSY) rc = sqlite3_step(stmt_);
    sqlite3_reset(stmt_);
    return rc == SQLITE_DONE;
  }

  // Runs a query, calling on_row for each row; true when it ran to its end.
  bool query(const std::function<void(sqlite3_stmt*)>& on_row) {
    if (!stmt_) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_BUSY) rc = sqlite3_step(stmt_);
    while (rc == SQLITE_ROW) {
      on_row(stmt_);
      rc = sqlite3_step(stmt_);
    }
    sqlite3_reset(stmt_);
    return rc == SQLITE_DONE;
  }

 private:
  sqlite3_stmt* stmt_;
  bool owned_;
};

std::u16string column_text(sqlite3_stmt* s, int col) {
  const void* text = sqlite3_column_text16(s, col);
  if (text == nullptr) return {};
  const int bytes = sqlite3_column_bytes16(s, col);
  return std::u16string(static_cast<const char16_t*>(text), static_cast<std::size_t>(bytes) / 2);
}

// A table name written into a statement: always a quoted identifier, so that any bundle name
// (quotes, blanks, semicolons) names a table and never becomes SQL.
std::u16string quote_identifier(const std::u16string& name) {
  std::u16string out = u"\"";
  for (char16_t c : name) {
    if (c == u'"') out.push_back(u'"');
    out.push_back(c);
  }
  out.push_back(u'"');
  return out;
}

// A NUL would end the statement text early; such a name cannot name a table.
bool usable_taocan_name(const std::u16string& name) {
  return name.find(u'\0') == std::u16string::npos;
}

std::u16string media_table(const std::u16string& name) {
  return quote_identifier(CSqliteManager::taocan_table_name(name));
}

}  // namespace

CSqliteManager::~CSqliteManager() { close(); }

void CSqliteManager::stmt_finalizer::operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }

sqlite3_stmt* CSqliteManager::cached(const std::u16string& sql) {
  if (db_ == nullptr) return nullptr;
  auto it = cache_.find(sql);
  if (it != cache_.end()) return it->second.get();
  sqlite3_stmt* s = prepare(db_, sql);
  if (s != nullptr) cache_.emplace(sql, stmt_ptr(s));
  return s;
}

std::u16string CSqliteManager::taocan_table_name(const std::u16string& name) {
  return kTaocanPrefix + name;
}

std::size_t CSqliteManager::max_taocan_name_length() {
  return kMaxCreateStatement - kCreateMediaHead.size() - kTaocanPrefix.size() -
         kCreateMediaTail.size();
}

void CSqliteManager::close() {
  cache_.clear();
  if (db_ != nullptr) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

bool CSqliteManager::open(const std::u16string& path) {
  close();
  loaded_tasks_.clear();
  next_task_id_ = 0;
  std::u16string zpath = path;  // sqlite3_open16 wants a terminated string
  sqlite3* db = nullptr;
  const int rc = sqlite3_open16(zpath.c_str(), &db);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);  // a handle may come back even on failure
    return false;
  }
  db_ = db;
  // Progress is written while downloads run: a write-ahead log with commits that do not wait
  // for the disk keeps each write cheap, and a killed process still loses nothing committed
  // (a power cut may lose the last commits, never the file). Where the log cannot be used
  // (a read-only folder) the file keeps its own journal.
  statement(db_, u"pragma journal_mode=WAL").query([](sqlite3_stmt*) {});
  statement(db_, u"pragma synchronous=NORMAL").execute();
  bool ok = true;
  if (!table_exists(kTaskTable)) ok = statement(db_, kCreateTaskTable).execute() && ok;
  if (!table_exists(kTaocanTable)) ok = statement(db_, kCreateTaocanTable).execute() && ok;
  if (!ok) {
    // Not a database we can use (unreadable or not SQLite): leave the file as it is.
    close();
    return false;
  }
  load_tasks();
  compute_next_task_id();
  return true;
}

bool CSqliteManager::table_exists(const std::u16string& table) {
  statement s(db_, u"select tbl_name from sqlite_master where tbl_name = ? ");
  if (!s.bind(1, table)) return false;
  bool found = false;
  s.query([&](sqlite3_stmt*) { found = true; });
  return found;
}

bool CSqliteManager::load_tasks() {
  std::vector<std::int32_t> ids;
  statement list(db_, u"select task_id from " + kTaskTable);
  if (!list.query([&](sqlite3_stmt* s) { ids.push_back(sqlite3_column_int(s, 0)); })) return false;
  statement one(db_, u"select * from " + kTaskTable + u" where task_id=?1;");
  for (std::int32_t id : ids) {
    if (!one.bind(1, id)) return false;
    one.query([&](sqlite3_stmt* s) {
      task_record t;
      t.task_id = sqlite3_column_int(s, 0);
      t.task_type = sqlite3_column_int(s, 1);
      t.task_state = sqlite3_column_int(s, 2);
      t.task_priority = sqlite3_column_int(s, 3);
      t.file_pos = sqlite3_column_int64(s, 4);
      t.file_size = sqlite3_column_int64(s, 5);
      t.file_path = column_text(s, 6);
      t.spend_time = sqlite3_column_int(s, 7);
      t.show_name = column_text(s, 8);
      t.download_url = column_text(s, 9);
      t.logo_url = column_text(s, 10);
      t.gid = column_text(s, 11);
      loaded_tasks_.push_back(std::move(t));
    });
  }
  return true;
}

void CSqliteManager::compute_next_task_id() {
  statement s(db_, u"select task_id from task_info_table where task_id > ?1 order by task_id desc;");
  if (!s.bind(1, static_cast<std::int32_t>(next_task_id_ - 1))) return;
  bool first = true;
  std::int64_t largest = 0;
  s.query([&](sqlite3_stmt* st) {
    if (first) largest = sqlite3_column_int64(st, 0);
    first = false;
  });
  if (first) return;
  // Ids are 32-bit; a stored id at the top of the range wraps like the counter that uses it.
  next_task_id_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(largest) + 1u);
}

bool CSqliteManager::add_task(const task_record& t) {
  ++task_writes_;
  statement s(cached(u"insert into " + kTaskTable +
                     u" values(?1, ?2, ?3,?4,?5,?6,?7,?8,?9,?10,?11,?12); "));
  const bool bound = s.bind(1, t.task_id) && s.bind(2, t.task_type) && s.bind(3, t.task_state) &&
                     s.bind(4, t.task_priority) && s.bind(5, t.file_pos) &&
                     s.bind(6, t.file_size) && s.bind(7, t.file_path) && s.bind(8, t.spend_time) &&
                     s.bind(9, t.show_name) && s.bind(10, t.download_url) &&
                     s.bind(11, t.logo_url) && s.bind(12, t.gid);
  return bound && s.execute();
}

bool CSqliteManager::delete_task(std::int32_t task_id) {
  ++task_writes_;
  statement s(cached(u" delete from " + kTaskTable + u" where task_id =?1 ; "));
  return s.bind(1, task_id) && s.execute();
}

bool CSqliteManager::update_task_progress(std::int32_t task_id, std::int64_t file_pos,
                                          std::int64_t file_size, std::int32_t task_state) {
  ++task_writes_;
  statement s(cached(u"update " + kTaskTable +
                     u" set file_pos=?1,file_size=?2, task_state=?3 where task_id=?4; "));
  return s.bind(1, file_pos) && s.bind(2, file_size) && s.bind(3, task_state) &&
         s.bind(4, task_id) && s.execute();
}

bool CSqliteManager::taocan_exists(const std::u16string& name) {
  return db_ != nullptr && table_exists(taocan_table_name(name));
}

bool CSqliteManager::create_taocan(const std::u16string& name, std::int32_t taocan_type) {
  if (!usable_taocan_name(name) || name.size() > max_taocan_name_length()) return false;
  if (!statement(db_, kCreateMediaHead + media_table(name) + kCreateMediaTail).execute())
    return false;
  statement s(db_, u"insert into taocan_table" + std::u16string(u" values(?1, ?2); "));
  return s.bind(1, name) && s.bind(2, taocan_type) && s.execute();
}

bool CSqliteManager::add_taocan_item(const taocan_media_record& m) {
  if (!usable_taocan_name(m.taocan)) return false;
  statement s(db_, u"insert into " + media_table(m.taocan) + u" values(?1, ?2, ?3,?4,?5,?6); ");
  return s.bind(1, m.media_path) && s.bind(2, m.media_type) && s.bind(3, m.media_select) &&
         s.bind(4, m.media_packname) && s.bind(5, m.media_showname) && s.bind(6, m.media_icon) &&
         s.execute();
}

std::vector<taocan_media_record> CSqliteManager::get_taocan_items(const std::u16string& name) {
  std::vector<taocan_media_record> items;
  if (!usable_taocan_name(name)) return items;
  statement s(db_, u"select * from " + media_table(name));
  const bool ok = s.query([&](sqlite3_stmt* st) {
    taocan_media_record m;
    m.taocan = name;
    m.media_path = column_text(st, 0);
    m.media_type = sqlite3_column_int(st, 1);
    m.media_select = sqlite3_column_int(st, 2);
    m.media_packname = column_text(st, 3);
    m.media_showname = column_text(st, 4);
    m.media_icon = column_text(st, 5);
    items.push_back(std::move(m));
  });
  if (!ok) items.clear();
  return items;
}

bool CSqliteManager::update_taocan_item_select(const taocan_media_record& m) {
  if (!usable_taocan_name(m.taocan)) return false;
  statement s(db_, u"update " + media_table(m.taocan) +
                       u" set media_type=?1,media_select=?2  where media_path=?3; ");
  return s.bind(1, m.media_type) && s.bind(2, m.media_select) && s.bind(3, m.media_path) &&
         s.execute();
}

bool CSqliteManager::update_taocan_item_info(const taocan_media_record& m) {
  if (!usable_taocan_name(m.taocan)) return false;
  statement s(db_, u"update " + media_table(m.taocan) +
                       u" set media_packname=?1,media_showname=?2 ,media_icon=?3  where "
                       u"media_path=?4; ");
  return s.bind(1, m.media_packname) && s.bind(2, m.media_showname) && s.bind(3, m.media_icon) &&
         s.bind(4, m.media_path) && s.execute();
}

bool CSqliteManager::delete_taocan_item(const std::u16string& name,
                                        const std::u16string& media_path) {
  if (!usable_taocan_name(name)) return false;
  statement s(db_, u" delete from " + media_table(name) + u" where media_path =?1 ; ");
  return s.bind(1, media_path) && s.execute();
}

bool CSqliteManager::drop_taocan(const std::u16string& name) {
  if (!usable_taocan_name(name)) return false;
  if (!statement(db_, u" drop table " + media_table(name)).execute()) return false;
  statement s(db_, u" delete from taocan_table" + std::u16string(u" where name =?1 ; "));
  return s.bind(1, name) && s.execute();
}

std::vector<taocan_record> CSqliteManager::get_all_taocans() {
  std::vector<taocan_record> out;
  statement s(db_, u"select * from taocan_table");
  const bool ok = s.query([&](sqlite3_stmt* st) {
    taocan_record t;
    t.name = column_text(st, 0);
    t.taocan_type = sqlite3_column_int(st, 1);
    out.push_back(std::move(t));
  });
  if (!ok) out.clear();
  return out;
}
