#include "store/taocan_manager.h"

#include "store/sqlite_manager.h"
#include "qv/text.h"

namespace store {

bool taocan_manager::is_taocan_exist(const std::string& name) {
  return db_.taocan_exists(qv::text::utf8_to_utf16(name));
}

bool taocan_manager::create_taocan(const std::string& name, std::int32_t type) {
  return db_.create_taocan(qv::text::utf8_to_utf16(name), type);
}

bool taocan_manager::add_to_taocan(const std::string& name, const std::string& file_path,
                                   std::int32_t media_type, bool select) {
  taocan_media_record m;
  m.taocan = qv::text::utf8_to_utf16(name);
  m.media_path = qv::text::utf8_to_utf16(file_path);
  m.media_type = media_type;
  m.media_select = select ? 1 : 0;
  return db_.add_taocan_item(m);
}

std::vector<taocan_entry> taocan_manager::get_all_taocan() {
  std::vector<taocan_entry> out;
  for (const taocan_record& r : db_.get_all_taocans())
    out.push_back(taocan_entry{qv::text::utf16_to_utf8(r.name), r.taocan_type});
  return out;
}

std::vector<taocan_item_entry> taocan_manager::get_taocan_info(const std::string& name) {
  std::vector<taocan_item_entry> out;
  for (const taocan_media_record& m : db_.get_taocan_items(qv::text::utf8_to_utf16(name))) {
    taocan_item_entry e;
    e.media_type = m.media_type;
    e.file_path = qv::text::utf16_to_utf8(m.media_path);
    e.select = m.media_select != 0;
    e.pack_name = qv::text::utf16_to_utf8(m.media_packname);
    e.label = qv::text::utf16_to_utf8(m.media_showname);
    e.icon = qv::text::utf16_to_utf8(m.media_icon);
    out.push_back(std::move(e));
  }
  return out;
}

bool taocan_manager::modify_taocan_info(const std::string& name, const std::string& file_path,
                                        std::int32_t media_type, bool select) {
  taocan_media_record m;
  m.taocan = qv::text::utf8_to_utf16(name);
  m.media_path = qv::text::utf8_to_utf16(file_path);
  m.media_type = media_type;
  m.media_select = select ? 1 : 0;
  return db_.update_taocan_item_select(m);
}

bool taocan_manager::update_tao_apk_info(const std::string& name, const std::string& file_path,
                                         const std::string& pack_name, const std::string& label,
                                         const std::string& icon) {
  taocan_media_record m;
  m.taocan = qv::text::utf8_to_utf16(name);
  m.media_path = qv::text::utf8_to_utf16(file_path);
  m.media_packname = qv::text::utf8_to_utf16(pack_name);
  m.media_showname = qv::text::utf8_to_utf16(label);
  m.media_icon = qv::text::utf8_to_utf16(icon);
  return db_.update_taocan_item_info(m);
}

bool taocan_manager::delete_taocan_item(const std::string& name, const std::string& file_path) {
  return db_.delete_taocan_item(qv::text::utf8_to_utf16(name), qv::text::utf8_to_utf16(file_path));
}

bool taocan_manager::drop_taocan(const std::string& name) {
  return db_.drop_taocan(qv::text::utf8_to_utf16(name));
}

}  // namespace store
