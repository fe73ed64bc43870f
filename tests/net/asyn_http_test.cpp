// asyn_http against nginx and against the fault-injecting server.
#include "http_test_support.h"
#include "qv/asyn_http.h"

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace qv::win32::net;
using namespace http_test;

namespace {

struct event {
  enum kind { response, error } what;
  std::int32_t id;
  std::int32_t code;  // status or error number
  std::string body;
  http_response copy;
};

// Records events; by default ends the loop at the first final event.
struct recorder : asyn_http_event {
  std::vector<event> events;
  std::string streamed;  // every on_data piece, in order
  std::uint64_t next_offset = 0;
  bool offsets_ok = true;
  std::function<void(recorder&)> after_final = [](recorder&) { loop_runner::finish(); };
  std::function<void(recorder&)> in_data;

  void on_response(std::int32_t id, const http_response& r) override {
    events.push_back({event::response, id, r.status_code, r.body, r});
    after_final(*this);
  }
  void on_error(std::int32_t id, std::int32_t code) override {
    events.push_back({event::error, id, code, {}, {}});
    after_final(*this);
  }
  void on_data(std::int32_t, const http_response&, const char* data, std::uint32_t length,
               std::uint64_t offset, bool& keep) override {
    if (offset != next_offset) offsets_ok = false;
    next_offset += length;
    streamed.append(data, length);
    (void)keep;
    if (in_data) in_data(*this);
  }
};

// One GET, run to its end.
recorder get(const std::string& url, const http_header_list& extra = {}) {
  recorder r;
  asyn_http http(&r);
  EXPECT_TRUE(http.request(7, url, extra)) << url;
  loop_runner::run();
  EXPECT_FALSE(http.is_requesting());
  return r;
}

// Tags requests of this run apart from earlier runs against the same servers.
std::string run_tag() {
  static const std::string tag = std::to_string(
      std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::system_clock::now().time_since_epoch()).count());
  return tag;
}

// The access-log lines holding the needle, once there is one.
std::vector<std::string> log_lines_with(const std::string& needle) {
  std::vector<std::string> out;
  std::istringstream in(access_log_with(needle));
  std::string line;
  while (std::getline(in, line))
    if (line.find(needle) != std::string::npos) out.push_back(line);
  return out;
}

// "$server_port $connection $connection_requests $request_uri $status"
struct log_entry {
  int port = 0;
  long connection = 0;
  int requests = 0;
};
log_entry parse_log(const std::string& line) {
  log_entry e;
  std::istringstream in(line);
  in >> e.port >> e.connection >> e.requests;
  return e;
}

}  // namespace

TEST(AsynHttp, DownloadsFromNginxWithTheBodyStreamedAndKept) {
  const auto& s = servers::get();
  const std::string data = pattern(300000);
  write_file(s.www / "client_body.bin", data);
  recorder r = get(s.nginx("/client_body.bin"));
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(event::response, r.events[0].what);
  EXPECT_EQ(7, r.events[0].id);
  EXPECT_EQ(200, r.events[0].code);
  EXPECT_TRUE(r.events[0].body == data);
  EXPECT_TRUE(r.streamed == data);
  EXPECT_TRUE(r.offsets_ok);
  EXPECT_EQ("OK", r.events[0].copy.reason_phrase);
}

TEST(AsynHttp, ANotFoundIsAResponse) {
  recorder r = get(servers::get().nginx("/no/such/file"));
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(event::response, r.events[0].what);
  EXPECT_EQ(404, r.events[0].code);
}

TEST(AsynHttp, FollowsFiveRedirectsAndFailsTheSixth) {
  const auto& s = servers::get();
  recorder five = get(s.nginx("/hop5"));
  ASSERT_EQ(1u, five.events.size());
  EXPECT_EQ(event::response, five.events[0].what);
  EXPECT_EQ(200, five.events[0].code);
  EXPECT_EQ("arrived", five.events[0].body);
  EXPECT_EQ(7, five.events[0].id);

  recorder six = get(s.nginx("/hop6"));
  ASSERT_EQ(1u, six.events.size());
  EXPECT_EQ(event::error, six.events[0].what);
  EXPECT_EQ(http_error::kTooManyRedirects, six.events[0].code);
  EXPECT_EQ(7, six.events[0].id);
}

TEST(AsynHttp, RedirectCountStartsAgainWithEachRequest) {
  const auto& s = servers::get();
  recorder r;
  asyn_http http(&r);
  int done = 0;
  r.after_final = [&](recorder&) {
    if (++done == 1)
      EXPECT_TRUE(http.request(8, s.nginx("/hop5")));
    else
      loop_runner::finish();
  };
  ASSERT_TRUE(http.request(7, s.nginx("/hop5")));
  loop_runner::run();
  ASSERT_EQ(2u, r.events.size());
  EXPECT_EQ(200, r.events[1].code);
  EXPECT_EQ(8, r.events[1].id);
}

TEST(AsynHttp, RedirectsAcrossPorts) {
  const auto& s = servers::get();
  // /cross on either server sends the client to /hop0 on the other one.
  const std::string uri = "/cross?from=first&run=" + run_tag();
  recorder r = get(s.nginx(uri));
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(200, r.events[0].code);
  EXPECT_EQ("arrived", r.events[0].body);
  const auto cross = log_lines_with(uri);
  ASSERT_EQ(1u, cross.size());
  EXPECT_EQ(s.nginx_port, parse_log(cross[0]).port);
  // The redirect target (which keeps the query) was asked for on the other port.
  const auto target = log_lines_with("/hop0?from=first&run=" + run_tag());
  ASSERT_EQ(1u, target.size());
  EXPECT_EQ(s.nginx_port2, parse_log(target[0]).port);
}

TEST(AsynHttp, KeepsTheConnectionOnlyWhenBothSidesAsk) {
  const auto& s = servers::get();
  http_header_list keep;
  keep.set("Connection", "Keep-Alive");
  struct row {
    const char* tag;
    int port;
    bool ask;
    bool reused;
  } rows[] = {
      {"both", s.nginx_port, true, true},
      {"client-only", s.nginx_port2, true, false},  // the server answers "Connection: close"
      {"server-only", s.nginx_port, false, false},  // nginx would keep it; the client closes
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tag);
    recorder r;
    asyn_http http(&r);
    int done = 0;
    const std::string base = std::string("/hop0?ka=") + row.tag + "&run=" + run_tag() + "&n=";
    r.after_final = [&](recorder&) {
      if (++done < 3)
        EXPECT_TRUE(http.request(done, s.nginx(base + std::to_string(done), row.port),
                                 row.ask ? keep : http_header_list()));
      else
        loop_runner::finish();
    };
    ASSERT_TRUE(http.request(0, s.nginx(base + "0", row.port), row.ask ? keep : http_header_list()));
    loop_runner::run();
    ASSERT_EQ(3u, r.events.size());
    for (const auto& e : r.events) EXPECT_EQ(200, e.code);
    std::vector<log_entry> entries;
    for (int n = 0; n < 3; ++n) {
      const auto lines = log_lines_with(base + std::to_string(n) + " ");
      ASSERT_EQ(1u, lines.size());
      entries.push_back(parse_log(lines[0]));
    }
    for (int n = 1; n < 3; ++n) {
      EXPECT_EQ(row.reused, entries[n].connection == entries[0].connection);
      EXPECT_EQ(row.reused ? n + 1 : 1, entries[n].requests);
    }
  }
}

TEST(AsynHttp, SendsTheRequestItBuiltFromTheUrl) {
  const auto& s = servers::get();
  http_header_list extra;
  extra.set("X-One", "1");
  extra.set("Accept", "*/*");
  recorder r = get(s.fault("/echo?b=c"), extra);
  ASSERT_EQ(1u, r.events.size());
  ASSERT_EQ(200, r.events[0].code);
  EXPECT_EQ("GET /echo?b=c HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(s.fault_port) +
                "\r\nX-One: 1\r\nAccept: */*\r\n\r\n",
            r.events[0].body);
}

TEST(AsynHttp, DecodesAFaultServersAnswers) {
  const auto& s = servers::get();
  for (const char* path : {"/chunked", "/trickle"}) {
    SCOPED_TRACE(path);
    recorder r = get(s.fault(path));
    ASSERT_EQ(1u, r.events.size());
    ASSERT_EQ(event::response, r.events[0].what);
    const http_response& resp = r.events[0].copy;
    EXPECT_EQ("wxyz12345", resp.body);
    ASSERT_EQ(2u, resp.chunks.size());
    EXPECT_EQ(4u, resp.chunks[0].size);
    EXPECT_EQ("b", resp.chunks[0].extensions.find("a"));
    EXPECT_EQ(5u, resp.chunks[1].size);
    EXPECT_TRUE(resp.chunks[1].extensions.contains("flag"));
    EXPECT_EQ("v", resp.chunks[1].extensions.find("k"));
    EXPECT_EQ("yes", resp.trailers.find("X-Trailer"));
    EXPECT_EQ("9", resp.trailers.find("X-Sum"));
    EXPECT_TRUE(r.offsets_ok);
  }
  recorder close_delimited = get(s.fault("/close-delimited"));
  ASSERT_EQ(1u, close_delimited.events.size());
  EXPECT_EQ(event::response, close_delimited.events[0].what);
  EXPECT_EQ("until the end", close_delimited.events[0].body);
}

TEST(AsynHttp, ReadsAHeaderBlockLongerThan8KiB) {
  recorder r = get(servers::get().fault("/long-cookie"));
  ASSERT_EQ(1u, r.events.size());
  ASSERT_EQ(event::response, r.events[0].what);
  EXPECT_EQ(200, r.events[0].code);
  EXPECT_EQ("ok", r.events[0].body);
  EXPECT_EQ("sid=" + std::string(20000, 'c'), r.events[0].copy.headers.find("Set-Cookie"));
}

TEST(AsynHttp, ReportsBrokenAnswersOnce) {
  const auto& s = servers::get();
  struct row {
    const char* path;
    std::int32_t code;
  } rows[] = {
      {"/big-header", http_error::kBadFraming},
      {"/no-space", http_error::kBadHeader},
      {"/redirect-https", http_error::kBadRedirect},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    recorder r = get(s.fault(row.path));
    ASSERT_EQ(1u, r.events.size());
    EXPECT_EQ(event::error, r.events[0].what);
    EXPECT_EQ(row.code, r.events[0].code);
  }
}

TEST(AsynHttp, RelativeLocationsStayOnTheServer) {
  const auto& s = servers::get();
  struct row {
    const char* path;
    const char* request_line;
  } rows[] = {
      {"/redirect-relative/echo", "GET /echo HTTP/1.1\r\n"},    // below the root
      {"/redirect-relative//echo", "GET /echo HTTP/1.1\r\n"},   // an absolute path, as it is
      {"/redirect-relative/echo?q=1", "GET /echo?q=1 HTTP/1.1\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    recorder r = get(s.fault(row.path));
    ASSERT_EQ(1u, r.events.size());
    ASSERT_EQ(200, r.events[0].code);
    EXPECT_EQ(0u, r.events[0].body.find(row.request_line)) << r.events[0].body;
  }
}

TEST(AsynHttp, AnswersCutAtEveryByteFailOnce) {
  const auto& s = servers::get();
  const std::string whole = get(s.fault("/whole")).events.at(0).copy.body;
  ASSERT_EQ("0123456789", whole);
  const std::size_t length = 64;  // the canonical answer of the fault server, head and body
  for (std::size_t cut = 0; cut < length; ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    recorder r = get(s.fault("/cut/" + std::to_string(cut)));
    ASSERT_EQ(1u, r.events.size());
    EXPECT_EQ(event::error, r.events[0].what);
    EXPECT_EQ(http_error::kConnectionClosed, r.events[0].code);
  }
  recorder full = get(s.fault("/cut/" + std::to_string(length)));
  ASSERT_EQ(1u, full.events.size());
  EXPECT_EQ(event::response, full.events[0].what);
  EXPECT_EQ("0123456789", full.events[0].body);
}

TEST(AsynHttp, ListenersMayCloseOrDestroyTheClientInsideEvents) {
  const auto& s = servers::get();
  enum action { close_it, destroy_it };
  struct row {
    const char* name;
    std::string url;
    bool in_data;  // act in on_data (else in the final event)
    action act;
  } rows[] = {
      {"close in on_data", s.fault("/trickle"), true, close_it},
      {"destroy in on_data", s.fault("/trickle"), true, destroy_it},
      {"destroy in on_response", s.nginx("/hop0"), false, destroy_it},
      {"destroy in on_error", s.fault("/cut/20"), false, destroy_it},
      {"close in on_error", s.fault("/big-header"), false, close_it},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    recorder r;
    auto http = std::make_unique<asyn_http>(&r);
    int data_calls = 0;
    auto act = [&]() {
      if (row.act == close_it)
        http->close();
      else
        http.reset();
    };
    if (row.in_data) {
      r.in_data = [&](recorder&) {
        ++data_calls;
        act();
        // Let the server finish on its own time; nothing may arrive here any more.
        qv::loop::post_quit(0);
      };
      r.after_final = [](recorder&) {};
    } else {
      r.after_final = [&](recorder&) {
        act();
        loop_runner::finish();
      };
    }
    ASSERT_TRUE(http->request(1, row.url));
    loop_runner::run();
    if (row.in_data) {
      EXPECT_EQ(1, data_calls);
      EXPECT_TRUE(r.events.empty());
    } else {
      EXPECT_EQ(1u, r.events.size());
    }
    if (http) {
      EXPECT_FALSE(http->is_requesting());
    }
  }
}

TEST(AsynHttp, ACloseDropsTheRequestWithoutEventsAndAllowsANewOne) {
  const auto& s = servers::get();
  recorder r;
  asyn_http http(&r);
  ASSERT_TRUE(http.request(1, s.fault("/trickle")));
  EXPECT_FALSE(http.request(2, s.nginx("/hop0")));  // one request at a time
  http.close();
  EXPECT_FALSE(http.is_requesting());
  ASSERT_TRUE(http.request(3, s.nginx("/hop0")));
  loop_runner::run();
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(3, r.events[0].id);
  EXPECT_EQ("arrived", r.events[0].body);
}

TEST(AsynHttp, RefusesWhatItCannotSend) {
  recorder r;
  asyn_http http(&r);
  for (const char* url : {"http://", "https://127.0.0.1/", "ftp://h/x", "http://:80/x",
                          "http://h:0/", "http://h/a\r\nX-Injected: 1"}) {
    EXPECT_FALSE(http.request(1, url)) << url;
  }
  http_request no_host;
  EXPECT_FALSE(http.send_request(1, no_host));
  http_request injected;
  injected.headers.set("Host", "127.0.0.1");
  injected.headers.set("X-A", "1\r\nX-B: 2");
  EXPECT_FALSE(http.send_request(1, injected));
  EXPECT_FALSE(http.is_requesting());
}

TEST(AsynHttp, SendsARequestRecordWithItsBody) {
  const auto& s = servers::get();
  recorder r;
  asyn_http http(&r);
  http_request req;
  req.method = "POST";
  req.request_uri = "/echo";
  req.headers.set("Host", "127.0.0.1:" + std::to_string(s.fault_port));
  req.body = "a=1";
  ASSERT_TRUE(http.send_request(4, req));
  loop_runner::run();
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ("POST /echo HTTP/1.1\r\nContent-Length: 3\r\nHost: 127.0.0.1:" +
                std::to_string(s.fault_port) + "\r\n\r\na=1",
            r.events[0].body);
}

TEST(AsynHttp, AHeadRequestEndsWithTheHeaders) {
  const auto& s = servers::get();
  write_file(s.www / "client_head.bin", pattern(4000, 8));
  recorder r;
  asyn_http http(&r);
  http_request req;
  req.method = "HEAD";
  req.request_uri = "/client_head.bin";
  req.headers.set("Host", "127.0.0.1:" + std::to_string(s.nginx_port));
  ASSERT_TRUE(http.send_request(9, req));
  loop_runner::run();
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(event::response, r.events[0].what);
  EXPECT_EQ(200, r.events[0].code);
  EXPECT_EQ("4000", r.events[0].copy.headers.find("Content-Length"));
  EXPECT_EQ("", r.events[0].body);
}

TEST(AsynHttp, PassesSocketErrorsOn) {
  // Port 1 on the loopback: nobody listens there.
  recorder r;
  asyn_http http(&r);
  ASSERT_TRUE(http.request(5, "http://127.0.0.1:1/"));
  loop_runner::run();
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(event::error, r.events[0].what);
  EXPECT_EQ(5, r.events[0].id);
  EXPECT_EQ(10061, r.events[0].code);  // WSAECONNREFUSED
}
