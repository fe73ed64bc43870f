// The program's one SQLite database ("Download.db"): the persistent download queue, the list of
// app bundles and one media table per bundle. Every statement is UTF-16 text and every text
// column holds UTF-16. UI thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// One download task as stored in "task_info_table".
struct task_record {
  std::int32_t task_id = 0;
  std::int32_t task_type = 0;
  std::int32_t task_priority = 0;
  std::int64_t file_pos = 0;
  std::int64_t file_size = 0;
  std::u16string file_path;
  std::int32_t spend_time = 0;
  std::u16string show_name;
  std::int32_t task_state = 0;
  std::u16string download_url;
  std::u16string logo_url;
  std::u16string gid;
};

// One bundle: a row of "taocan_table".
struct taocan_record {
  std::u16string name;
  std::int32_t taocan_type = 0;
};

// One media item of a bundle, keyed by media_path within the bundle named by taocan.
struct taocan_media_record {
  std::u16string media_path;
  std::int32_t media_type = 0;
  std::u16string taocan;
  std::u16string media_packname;
  std::u16string media_showname;
  std::u16string media_icon;
  std::int32_t media_select = 0;
};

// What the download queue writes; the database implements it.
class download_task_store {
 public:
  virtual ~download_task_store() = default;
  virtual bool add_task(const task_record& task) = 0;
  virtual bool delete_task(std::int32_t task_id) = 0;
  virtual bool update_task_progress(std::int32_t task_id, std::int64_t file_pos,
                                    std::int64_t file_size, std::int32_t task_state) = 0;
};

class CSqliteManager : public download_task_store {
 public:
  CSqliteManager() = default;
  ~CSqliteManager() override;
  CSqliteManager(const CSqliteManager&) = delete;
  CSqliteManager& operator=(const CSqliteManager&) = delete;

  // Opens (creating when missing) the database file, creates the two fixed tables when they
  // are missing, reads the stored tasks and computes the next task id. False when the file
  // cannot be opened; every later operation then fails.
  bool open(const std::u16string& path);
  // Closing twice is harmless.
  void close();
  bool is_open() const { return db_ != nullptr; }

  bool add_task(const task_record& task) override;
  bool delete_task(std::int32_t task_id) override;
  bool update_task_progress(std::int32_t task_id, std::int64_t file_pos, std::int64_t file_size,
                            std::int32_t task_state) override;

  bool taocan_exists(const std::u16string& name);
  // Refuses a name whose create statement would not fit the statement limit, and a name
  // containing a NUL character.
  bool create_taocan(const std::u16string& name, std::int32_t taocan_type);
  bool add_taocan_item(const taocan_media_record& item);
  // Empty when the bundle does not exist.
  std::vector<taocan_media_record> get_taocan_items(const std::u16string& name);
  bool update_taocan_item_select(const taocan_media_record& item);
  bool update_taocan_item_info(const taocan_media_record& item);
  bool delete_taocan_item(const std::u16string& name, const std::u16string& media_path);
  bool drop_taocan(const std::u16string& name);
  std::vector<taocan_record> get_all_taocans();

  // The tasks and the next id as read at open; later inserts and deletes do not change them.
  const std::vector<task_record>& loaded_tasks() const { return loaded_tasks_; }
  std::int32_t next_task_id() const { return next_task_id_; }

  // Task rows written (added, deleted or updated) through this object, for measurements.
  std::uint64_t task_writes() const { return task_writes_; }

  // The table that holds a bundle's media items: "套餐_" followed by the bundle name.
  static std::u16string taocan_table_name(const std::u16string& name);
  // The create statement of a media table, with the table name as written by earlier versions
  // (unquoted), has to fit 260 UTF-16 units with its terminator; this bounds the name length.
  static constexpr std::size_t kMaxCreateStatement = 259;
  static std::size_t max_taocan_name_length();

 private:
  struct stmt_finalizer {
    void operator()(sqlite3_stmt* s) const;
  };
  using stmt_ptr = std::unique_ptr<sqlite3_stmt, stmt_finalizer>;

  // The task statements run for every download; they are prepared once per connection.
  sqlite3_stmt* cached(const std::u16string& sql);
  bool table_exists(const std::u16string& table);
  bool load_tasks();
  void compute_next_task_id();

  sqlite3* db_ = nullptr;  // owned; closed by close()
  std::map<std::u16string, stmt_ptr> cache_;  // finalized before db_ is closed
  std::vector<task_record> loaded_tasks_;
  std::int32_t next_task_id_ = 0;
  std::uint64_t task_writes_ = 0;
};
