// Answers of the catalogue and update services: percent-decoding, the JSON bounds, the result
// tables of each type, and the update URL.
#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "lua_state.h"
#include "store/http_request.h"

namespace {

using namespace store;

TEST(PercentDecode, Cases) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain {\"a\":1}", "plain {\"a\":1}"},
      {"%7B%22is%22%3A1%7D", "{\"is\":1}"},
      {"a%2fb%2Fc", "a/b/c"},
      {"100%", "100%"},            // a "%" at the very end
      {"x%4", "x%4"},              // one digit left: never read past the end
      {"%zz%4G%%41", "%zz%4G%A"},  // not hexadecimal: copied
      {"%00", std::string(1, '\0')},
      {"a+b", "a+b"},  // "+" is not a space here
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, PercentDecode(c.in)) << c.in;
}


TEST(ParseAnswer, BoundsAndFailures) {
  Json::Value v;
  EXPECT_TRUE(ParseAnswer("[1,2,{\"a\":[3]}]", v));
  EXPECT_FALSE(ParseAnswer("{\"a\":", v));
  EXPECT_FALSE(ParseAnswer("not json", v));
  // Nesting within the bound parses; beyond it the answer is refused, not a crash.
  const std::string ok = std::string(kMaxJsonDepth - 1, '[') + std::string(kMaxJsonDepth - 1, ']');
  EXPECT_TRUE(ParseAnswer(ok, v));
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_FALSE(ParseAnswer(deep, v));
  // Larger than the bound: refused even though it is valid JSON.
  std::string big = "[\"" + std::string(kMaxAnswerBytes, 'x') + "\"]";
  EXPECT_FALSE(ParseAnswer(big, v));
}

struct table_case {
  std::int32_t type;
  std::string json;
  std::string table;  // dump() of the result; empty when the answer gives no table
};

TEST(AnswerTable, EveryType) {
  const table_case cases[] = {
      // Type 1: kinds are strict; missing members give the defaults.
      {1, R"([{"Id":3,"Pid":7,"Si_Name":"Games"},{"Id":"4","Pid":2.9,"Si_Name":5},7])",
       R"({1={Id=3,Name="Games",Pid=7},2={Id=0,Name="",Pid=2},3={Id=0,Name="",Pid=0}})"},
      {1, "[]", "{}"},
      {1, R"({"Id":1})", ""},  // not an array: no table
      {2,
       R"([{"Id":1,"S_Name":"N","S_Pic":"p.png","S_DownNum":4000000000,"S_FileSize":"12 MB",
           "S_Version":"1.2","S_FilePath":"http://h/a.apk","S_PageUrl":"http://h/p"}])",
       R"({1={DownNum=4000000000,DownPath="http://h/a.apk",FileSize="12 MB",Id=1,Name="N",)"
       R"(PageUrl="http://h/p",Pic="p.png",Version="1.2"}})"},
      {2, R"([{"S_DownNum":-5,"S_FileSize":12}])",
       R"({1={DownNum=0,DownPath="",FileSize="",Id=0,Name="",PageUrl="",Pic="",Version=""}})"},
      {3,
       R"([{"Id":9,"S_SiId":2,"S_Name":"A","S_Pic":"a","S_DownNum":"7","S_FileSize":1024,
           "S_Version":"3","S_Language":"zh","S_FilePath":"f","AddTime":"2020-01-01",
           "S_BigPic":"b"}])",
       R"({1={AddTime="2020-01-01",BigPic="b",DownNum=0,DownPath="f",FileSize=1024,Id=9,)"
       R"(Language="zh",Name="A",Pic="a",SiId=2,Version="3"}})"},
      // Type 4: one object, with its own defaults (updateType 1).
      {4, R"({"is":1,"url":"http://h/new.exe","last":"2.0"})",
       R"({Content="",DownloadUrl="http://h/new.exe",NewVer="2.0",Size="",Update=1,updateType=1})"},
      {4, R"({"is":"1","updatetype":2,"last":2.0,"cont":"fixes","size":"3 MB"})",
       R"({Content="fixes",DownloadUrl="",NewVer="",Size="3 MB",Update=0,updateType=2})"},
      {4, "[1]", ""},
      // Type 5: placeholders, whatever the answer holds.
      {5, "[]",
       R"({1={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(2={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(3={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(4={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(5={down="down",packName="com.tivorel.placeholder",ver="ver"},request="RAW"})"},
      {0, R"({"x":1})", "{}"},
      {42, "[1,2]", "{}"},
  };
  for (const auto& c : cases) {
    catalogue_test::lua_state lua;
    Json::Value root;
    ASSERT_TRUE(ParseAnswer(c.json, root)) << c.json;
    const int top = lua_gettop(lua.L);
    const bool pushed = PushAnswerTable(lua.L, c.type, root, "RAW");
    EXPECT_EQ(!c.table.empty(), pushed) << c.type << " " << c.json;
    EXPECT_EQ(top + (pushed ? 1 : 0), lua_gettop(lua.L));
    if (pushed) {
      EXPECT_EQ(c.table, lua.dump_top()) << c.type << " " << c.json;
    }
  }
}

class UpdateUrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tivorel_update_url_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::wstring write_ini(const std::string& text) {
    const auto p = dir_ / "config.ini";
    std::ofstream(p, std::ios::binary) << text;
    return p.wstring();
  }
  std::filesystem::path dir_;
};

TEST_F(UpdateUrlTest, WithoutConfigFile) {
  const update_settings s = ReadUpdateSettings((dir_ / "config.ini").wstring());
  EXPECT_EQ(L"", s.endpoint);
  EXPECT_EQ(L"1.0", s.version);
  EXPECT_EQ(std::string(kDefaultUpdateEndpoint) + "/gengxin/update.php?v=1.0", UpdateUrl(s));
}

TEST_F(UpdateUrlTest, FromConfigFile) {
  const std::wstring ini = write_ini(
      "[other]\r\nupdateserver=http://wrong\r\n[Basic]\r\nAppVer = 2.5 beta+1 long\r\n"
      "UpdateServer = http://127.0.0.1:8080/\r\n");
  const update_settings s = ReadUpdateSettings(ini);
  EXPECT_EQ(L"http://127.0.0.1:8080/", s.endpoint);
  EXPECT_EQ(L"2.5 beta+", s.version);  // at most 9 characters
  EXPECT_EQ("http://127.0.0.1:8080/gengxin/update.php?v=2.5%20beta%2B", UpdateUrl(s));
}

TEST_F(UpdateUrlTest, VersionOnly) {
  const update_settings s = ReadUpdateSettings(write_ini("[basic]\nappver=3.1\n"));
  EXPECT_EQ(std::string(kDefaultUpdateEndpoint) + "/gengxin/update.php?v=3.1", UpdateUrl(s));
}

TEST(UpdateUrl, EndpointsThatAreNotHostAndPortFallBackToTheDefault) {
  const std::string def = std::string(kDefaultUpdateEndpoint) + "/gengxin/update.php?v=1";
  const struct {
    const wchar_t* endpoint;
    std::string url;
  } cases[] = {
      {L"HTTP://Example.org", "HTTP://Example.org/gengxin/update.php?v=1"},
      {L"http://h:65535", "http://h:65535/gengxin/update.php?v=1"},
      {L"https://h", def},        // the client speaks plain HTTP only
      {L"http://h/base", def},    // a path is not part of an endpoint
      {L"http://h:0", def},
      {L"http://h:70000", def},
      {L"http://h:8x", def},
      {L"http://:80", def},
      {L"http://", def},
      {L"http://u@h", def},
      {L"http://h x", def},
      {L"h:80", def},
  };
  for (const auto& c : cases) EXPECT_EQ(c.url, UpdateUrl({c.endpoint, L"1"})) << c.url;
}

}  // namespace
