// "HttpRequest.Manager" against nginx and the fault server: result tables from served answers,
// order and fresh connections, cancelling, silence on failures, and the update check.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "listener.h"
#include "lua_callbacks.h"
#include "store/http_request.h"

namespace {

using namespace http_test;
using catalogue_test::lua_callbacks;
using store::CLuaSubHttpRequest;

// Serves body at /cat/<name> on nginx and gives its URL.
std::string serve(const std::string& name, const std::string& body, int port = 0) {
  const auto& s = servers::get();
  fs::create_directories(s.www / "cat");
  write_file(s.www / "cat" / name, body);
  return s.nginx("/cat/" + name, port);
}

// The access-log lines of these request URIs, each as {connection, requests on that
// connection}. nginx writes a line after its answer, so the lines are waited for.
std::vector<std::pair<std::string, std::string>> logged(const std::vector<std::string>& uris,
                                                        std::size_t want) {
  std::vector<std::pair<std::string, std::string>> out;
  for (int attempt = 0; attempt < 200; ++attempt) {
    out.clear();
    std::istringstream log(read_file(servers::get().access_log));
    std::string line;
    while (std::getline(log, line)) {
      std::istringstream f(line);
      std::string port, conn, n, uri;
      f >> port >> conn >> n >> uri;
      for (const auto& u : uris)
        if (uri == u) out.emplace_back(conn, n);
    }
    if (out.size() >= want) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return out;
}

// Makes URIs of this run distinct from those of earlier runs against the same server.
std::string nonce() {
  return std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

class HttpRequestNet : public ::testing::Test {
 protected:
  lua_callbacks lua;
};

TEST_F(HttpRequestNet, ResultTablesFromServedAnswers) {
  CLuaSubHttpRequest http;
  const struct {
    const char* name;
    std::int32_t type;
    std::string body;
    std::string seen;
  } cases[] = {
      {"t1", 1, R"([{"Id":1,"Pid":0,"Si_Name":"Apps"},{"Id":2,"Pid":1,"Si_Name":"Games"}])",
       R"({1={Id=1,Name="Apps",Pid=0},2={Id=2,Name="Games",Pid=1}})"},
      {"t1empty", 1, "[]", "{}"},
      {"t4", 4, R"({"is":1,"url":"http://h/Setup.exe","last":"2.0"})",
       R"({Content="",DownloadUrl="http://h/Setup.exe",NewVer="2.0",Size="",Update=1,updateType=1})"},
      {"t4encoded", 4, "%7B%22is%22%3A1%7D",
       R"({Content="",DownloadUrl="",NewVer="",Size="",Update=1,updateType=1})"},
      {"t5", 5, "%5B1%5D",
       R"({1={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(2={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(3={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(4={down="down",packName="com.tivorel.placeholder",ver="ver"},)"
       R"(5={down="down",packName="com.tivorel.placeholder",ver="ver"},request="%5B1%5D"})"},
      {"t7", 7, R"({"a":[1,2]})", "{}"},
  };
  const std::size_t n = sizeof cases / sizeof cases[0];
  for (std::size_t i = 0; i < n; ++i) {
    const auto& c = cases[i];
    http.Request(c.type, serve(std::string(c.name) + ".json", c.body), lua.cb(c.name, i + 1 == n));
  }
  ASSERT_TRUE(loop_runner::run());
  for (const auto& c : cases) EXPECT_EQ(c.seen, lua.seen(c.name)) << c.name;
  EXPECT_EQ(0u, http.pending());
}

TEST_F(HttpRequestNet, FailuresAreSilentAndDoNotHoldUpTheQueue) {
  CLuaSubHttpRequest http;
  const std::string deep = std::string(1000, '[') + std::string(1000, ']');
  const std::string big = "[" + std::string(store::kMaxAnswerBytes, ' ') + "]";
  const auto& s = servers::get();
  http.Request(1, serve("bad.json", "{\"Id\":"), lua.cb("bad json"));
  http.Request(1, serve("deep.json", deep), lua.cb("too deep"));
  http.Request(1, serve("big.json", big), lua.cb("too big"));
  http.Request(1, serve("object.json", "{\"Id\":1}"), lua.cb("not an array"));
  http.Request(4, s.nginx("/cat/no-such-file.json"), lua.cb("404 page"));
  http.Request(1, s.fault("/cut/40"), lua.cb("cut short"));
  http.Request(1, "http://127.0.0.1:" + std::to_string(catalogue_test::closed_port()) + "/x",
               lua.cb("refused"));
  http.Request(1, "https://127.0.0.1/x", lua.cb("not http"));
  http.Request(1, serve("ok.json", "[]"), lua.cb("ok", true));
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ("ok", lua.order());
  EXPECT_EQ(0u, http.pending());
}

TEST_F(HttpRequestNet, InIdOrderEachOnAFreshConnection) {
  CLuaSubHttpRequest http;
  std::vector<std::string> uris;
  std::int32_t last = 0;
  const std::string run = nonce();
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "order" + std::to_string(i) + ".json";
    // The keep-alive server: the client must still not reuse the connection.
    const std::string query = "?run=" + run;
    const std::int32_t id =
        http.Request(1, serve(name, "[{\"Id\":" + std::to_string(i) + "}]") + query,
                     lua.cb(std::to_string(i), i == 4));
    EXPECT_EQ(last + 1, id);
    last = id;
    uris.push_back("/cat/" + name + query);
  }
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ("1 2 3 4", lua.order());
  const auto lines = logged(uris, 4);
  ASSERT_EQ(4u, lines.size());
  std::set<std::string> connections;
  for (const auto& l : lines) {
    connections.insert(l.first);
    EXPECT_EQ("1", l.second) << "request on connection " << l.first;
  }
  EXPECT_EQ(4u, connections.size());
}

TEST_F(HttpRequestNet, CancelWaitingAndRunning) {
  CLuaSubHttpRequest http;
  const std::int32_t a = http.Request(1, serve("ca.json", "[{\"Id\":1}]"), lua.cb("a"));
  const std::int32_t b = http.Request(1, serve("cb.json", "[{\"Id\":2}]"), lua.cb("b"));
  const std::int32_t c = http.Request(1, serve("cc.json", "[{\"Id\":3}]"), lua.cb("c"));
  http.Request(1, serve("cd.json", "[{\"Id\":4}]"), lua.cb("d", true));
  http.Cancel(b);  // waiting
  http.Cancel(a);  // running: the client is closed and c starts
  http.Cancel(a);  // gone already: nothing
  http.Cancel(999);
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ("c d", lua.order());
  EXPECT_EQ("{1={Id=3,Name=\"\",Pid=0}}", lua.seen("c"));
  (void)c;
}

TEST_F(HttpRequestNet, CancelFromInsideACallback) {
  CLuaSubHttpRequest http;
  std::int32_t second = 0;
  // The first callback cancels the request that is now running; the third still comes.
  lua_pushlightuserdata(lua.L, &http);
  lua_pushlightuserdata(lua.L, &second);
  lua_pushcclosure(
      lua.L,
      [](lua_State* L) -> int {
        auto* h = static_cast<CLuaSubHttpRequest*>(lua_touserdata(L, lua_upvalueindex(1)));
        h->Cancel(*static_cast<std::int32_t*>(lua_touserdata(L, lua_upvalueindex(2))));
        return 0;
      },
      2);
  lua_setglobal(lua.L, "cancel_second");
  ASSERT_EQ("", lua.run("function first_cb() order[#order + 1] = 'first'; cancel_second() end"));
  lua_getglobal(lua.L, "first_cb");
  auto first = std::make_unique<luabind::CLuaEvent>();
  first->Hold(lua.L, -1);
  lua_pop(lua.L, 1);
  http.Request(1, serve("in1.json", "[]"), std::move(first));
  second = http.Request(1, serve("in2.json", "[]"), lua.cb("second"));
  http.Request(1, serve("in3.json", "[]"), lua.cb("third", true));
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ("first third", lua.order());
}

class CheckUpdateNet : public HttpRequestNet {
 protected:
  void SetUp() override {
    dir_ = tmp_.path();
  }
  std::wstring config(const std::string& text) {
    write_file(dir_ / "config.ini", text);
    return (dir_ / "config.ini").wstring();
  }
  const tiv_test::TempDir tmp_;
  fs::path dir_;
};

TEST_F(CheckUpdateNet, AsksTheConfiguredEndpointWithTheEncodedVersion) {
  const auto& s = servers::get();
  fs::create_directories(s.www / "gengxin");
  write_file(s.www / "gengxin" / "update.php",
             R"({"url":"http://h/T.exe","is":1,"updatetype":2,"last":"2.6","cont":"c","size":"9"})");
  const std::wstring ini = config("[basic]\r\nappver=2.5 b&x=12\r\nupdateserver=http://127.0.0.1:" +
                                  std::to_string(s.nginx_port) + "\r\n");
  // "2.5 b&x=12" is cut to 9 characters and travels encoded.
  const std::string uri = "/gengxin/update.php?v=2.5%20b%26x%3D1";
  const std::size_t before = logged({uri}, 0).size();
  CLuaSubHttpRequest http([ini] { return store::ReadUpdateSettings(ini); });
  http.CheckUpdate(lua.cb("update", true));
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(R"({Content="c",DownloadUrl="http://h/T.exe",NewVer="2.6",Size="9",Update=1,updateType=2})",
            lua.seen("update"));
  EXPECT_EQ(before + 1, logged({uri}, before + 1).size());
}

}  // namespace
