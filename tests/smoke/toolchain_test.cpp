// Each third-party library is linked into the test binary and does a small real job, so a
// missing or mis-built library fails here rather than deep inside a module test.
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#include <expat.h>
#include <jpeglib.h>
#include <json/json.h>
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <png.h>
#include <sqlite3.h>
#include <tiffio.h>
#include <unzip.h>
#include <zlib.h>

#include <boost/regex.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

TEST(Toolchain, LuaRunsAChunk) {
  std::unique_ptr<lua_State, decltype(&lua_close)> L(luaL_newstate(), &lua_close);
  ASSERT_TRUE(L);
  luaL_openlibs(L.get());
  ASSERT_EQ(0, luaL_dostring(L.get(), "return string.format('%d-%s', 6*7, _VERSION)"));
  EXPECT_STREQ("42-Lua 5.1", lua_tostring(L.get(), -1));
}

TEST(Toolchain, SqliteInMemory) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &db));
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> guard(db, &sqlite3_close);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "create table t(a); insert into t values(7);", nullptr, nullptr, nullptr));
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "select a*6 from t", -1, &st, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(st));
  EXPECT_EQ(42, sqlite3_column_int(st, 0));
  sqlite3_finalize(st);
}

TEST(Toolchain, ExpatParses) {
  XML_Parser p = XML_ParserCreate("UTF-8");
  ASSERT_NE(nullptr, p);
  int elements = 0;
  XML_SetUserData(p, &elements);
  XML_SetStartElementHandler(p, [](void* ud, const XML_Char*, const XML_Char**) { ++*static_cast<int*>(ud); });
  const char doc[] = "<a><b/><c x='1'/></a>";
  EXPECT_EQ(XML_STATUS_OK, XML_Parse(p, doc, sizeof doc - 1, 1));
  EXPECT_EQ(3, elements);
  XML_ParserFree(p);
}

TEST(Toolchain, JsoncppRoundTrip) {
  Json::Value v;
  v["n"] = 42;
  Json::StreamWriterBuilder w;
  w["indentation"] = "";
  EXPECT_EQ("{\"n\":42}", Json::writeString(w, v));
}

TEST(Toolchain, ZlibAndLibarchiveRoundTrip) {
  // Write a zip in memory with libarchive, then read it back with libarchive.
  std::vector<char> buf(1 << 16);
  size_t used = 0;
  {
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    ASSERT_EQ(ARCHIVE_OK, archive_write_open_memory(a, buf.data(), buf.size(), &used));
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, "hello.txt");
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    archive_entry_set_size(e, 5);
    ASSERT_EQ(ARCHIVE_OK, archive_write_header(a, e));
    ASSERT_EQ(5, archive_write_data(a, "hello", 5));
    archive_entry_free(e);
    archive_write_free(a);
  }
  archive* r = archive_read_new();
  archive_read_support_format_all(r);
  archive_read_support_filter_all(r);
  ASSERT_EQ(ARCHIVE_OK, archive_read_open_memory(r, buf.data(), used));
  archive_entry* e = nullptr;
  ASSERT_EQ(ARCHIVE_OK, archive_read_next_header(r, &e));
  EXPECT_STREQ("hello.txt", archive_entry_pathname(e));
  char out[8] = {};
  EXPECT_EQ(5, archive_read_data(r, out, sizeof out));
  EXPECT_STREQ("hello", out);
  archive_read_free(r);
  EXPECT_NE(nullptr, zlibVersion());
}

TEST(Toolchain, ImageLibrariesLink) {
  EXPECT_EQ(PNG_LIBPNG_VER_MAJOR, static_cast<int>(png_access_version_number() / 10000));
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_destroy_compress(&c);
  EXPECT_NE(nullptr, TIFFGetVersion());
  EXPECT_EQ(nullptr, unzOpen("does-not-exist.zip"));  // minizip links and reports a missing file
}

TEST(Toolchain, BoostWideRegex) {
  boost::wregex re(LR"(USB\\VID_([0-9A-F]{4})&PID_([0-9A-F]{4}))", boost::regex::icase);
  boost::wsmatch m;
  std::wstring id = L"usb\\vid_18d1&pid_4ee7\\0123";
  ASSERT_TRUE(boost::regex_search(id, m, re));
  EXPECT_EQ(L"18d1", m[1].str());
}
