// Windows has no sqlite3 client: the statements are read from sqlite_master and printed the way
// the client's ".schema" prints them (each followed by ";" and a line break).
#include <memory>

#include "store_fixture.h"
#include "qv/path.h"

namespace store_test {

std::string schema_of(const std::filesystem::path& db) {
  sqlite3* raw = nullptr;
  if (sqlite3_open(qv::path::fs_path_utf8(db).c_str(), &raw) != SQLITE_OK) {
    sqlite3_close_v2(raw);
    return "<cannot open>";
  }
  struct closer {
    void operator()(sqlite3* d) const { sqlite3_close_v2(d); }
  };
  std::unique_ptr<sqlite3, closer> conn(raw);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(conn.get(), "select sql from sqlite_master where sql not null order by rowid",
                         -1, &st, nullptr) != SQLITE_OK)
    return "<cannot read schema>";
  std::string out;
  while (sqlite3_step(st) == SQLITE_ROW)
    out += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + ";\n";
  sqlite3_finalize(st);
  return out;
}

}  // namespace store_test
