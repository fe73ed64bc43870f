#include "store_fixture.h"
#include "qv/path.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>

namespace store_test {
namespace {

struct db_closer {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using db_ptr = std::unique_ptr<sqlite3, db_closer>;

db_ptr open_raw(const std::filesystem::path& db) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open(qv::path::fs_path_utf8(db).c_str(), &raw);
  db_ptr p(raw);
  if (rc != SQLITE_OK) return nullptr;
  return p;
}

std::vector<std::vector<std::string>> rows(sqlite3* db, const std::string& sql) {
  std::vector<std::vector<std::string>> out;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot prepare " << sql << ": " << sqlite3_errmsg(db);
    return out;
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const auto* t = sqlite3_column_text(st, i);
      row.push_back(t ? std::string(reinterpret_cast<const char*>(t)) : std::string("<null>"));
    }
    out.push_back(std::move(row));
  }
  sqlite3_finalize(st);
  return out;
}

std::string quoted(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

}  // namespace

std::string dump_of(const std::filesystem::path& db) {
  db_ptr conn = open_raw(db);
  if (!conn) return "<cannot open>";
  std::ostringstream out;
  for (const auto& t :
       rows(conn.get(), "select type, name, tbl_name, sql from sqlite_master order by name")) {
    out << t[0] << '|' << t[1] << '|' << t[2] << '|' << t[3] << '\n';
    if (t[0] != "table") continue;
    for (const auto& r : rows(conn.get(), "select * from " + quoted(t[1]) + " order by 1")) {
      out << "  ";
      for (const auto& v : r) out << v << '|';
      out << '\n';
    }
  }
  return out.str();
}

bool exec_raw(const std::filesystem::path& db, const std::string& sql) {
  db_ptr conn = open_raw(db);
  return conn && sqlite3_exec(conn.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace store_test
