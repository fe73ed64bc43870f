// App bundles as the user interface sees them: UTF-8 names and paths, items with a boolean
// selection. Every call is one store operation; nothing is kept between calls.
// "Taocan" (套餐) is the stored name of an app bundle; it stays: the database and Lua names fix it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CSqliteManager;

namespace store {

struct taocan_entry {
  std::string taocan;
  std::int32_t type = 0;
};

struct taocan_item_entry {
  std::int32_t media_type = 0;
  std::string file_path;
  bool select = false;
  std::string pack_name;
  std::string label;
  std::string icon;
};

class taocan_manager {
 public:
  explicit taocan_manager(CSqliteManager& db) : db_(db) {}

  bool is_taocan_exist(const std::string& name);
  bool create_taocan(const std::string& name, std::int32_t type);
  bool add_to_taocan(const std::string& name, const std::string& file_path,
                     std::int32_t media_type, bool select);
  std::vector<taocan_entry> get_all_taocan();
  std::vector<taocan_item_entry> get_taocan_info(const std::string& name);
  bool modify_taocan_info(const std::string& name, const std::string& file_path,
                          std::int32_t media_type, bool select);
  bool update_tao_apk_info(const std::string& name, const std::string& file_path,
                           const std::string& pack_name, const std::string& label,
                           const std::string& icon);
  bool delete_taocan_item(const std::string& name, const std::string& file_path);
  bool drop_taocan(const std::string& name);

 private:
  CSqliteManager& db_;
};

}  // namespace store
