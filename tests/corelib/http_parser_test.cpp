// The response parser over byte streams fed in every split: the result must not depend on how
// the network cut the bytes.
#include <gtest/gtest.h>

#include "qv/http_message.h"

#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace qv::win32::net;

namespace {

struct outcome {
  std::int32_t result = http_error::kNeedMoreData;
  http_response response;
  std::string body;
  int calls_after_end = 0;  // pieces fed after a final result (must stay 0)
};

// Feeds the pieces until a final result (complete or error), collecting the body.
outcome feed(const std::vector<std::string>& pieces) {
  outcome o;
  http_response_parser parser;
  std::string piece;
  bool ended = false;
  for (const auto& p : pieces) {
    if (p.empty()) continue;
    if (ended) {
      ++o.calls_after_end;
      continue;
    }
    o.result = parser.parse(p.data(), p.size(), o.response, piece);
    o.body += piece;
    if (o.result != http_error::kNeedMoreData) ended = true;
  }
  return o;
}

// Whether a two-way cut at i is tried: every one in texts of a few blocks; in longer texts (the
// header-block limit cases) a cut every 251 bytes and every cut near the limit and near the ends
// of blank lines, where the parser's decisions are.
bool cut_tried(const std::string& text, std::size_t i) {
  if (text.size() <= 4 * kHttpBlockLimit || i % 251 == 0) return true;
  const auto near = [i](std::size_t at) { return i + 8 >= at && i <= at + 8; };
  if (near(kHttpHeaderBlockLimit)) return true;
  for (std::size_t at = text.find("\r\n\r\n"); at != std::string::npos;
       at = text.find("\r\n\r\n", at + 1))
    if (near(at)) return true;
  return false;
}

// Every way of cutting the text that we try: whole, two-way cuts, fixed-size pieces.
void for_each_split(const std::string& text,
                    const std::function<void(const std::vector<std::string>&, const std::string&)>& f) {
  f({text}, "whole");
  for (std::size_t i = 1; i < text.size(); ++i)
    if (cut_tried(text, i)) f({text.substr(0, i), text.substr(i)}, "cut at " + std::to_string(i));
  for (std::size_t n = 1; n <= 7; ++n) {
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < text.size(); i += n) pieces.push_back(text.substr(i, n));
    f(pieces, "pieces of " + std::to_string(n));
  }
}

struct parse_case {
  const char* name;
  std::string bytes;
  std::int32_t result;  // 0 complete, or the error number
  std::int32_t status;
  std::string body;
  std::vector<http_header_list::pair> headers;
  std::vector<std::pair<std::uint32_t, std::vector<http_header_list::pair>>> chunks;
  std::vector<http_header_list::pair> trailers;
};

std::string block(std::size_t total) {
  // A header block of exactly `total` bytes including its blank line.
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Pad: ";
  const std::size_t fixed = head.size() + 4;
  return head + std::string(total - fixed, 'p') + "\r\n\r\n";
}

std::string chunk_line(std::size_t length) {
  // A chunk-size line of `length` bytes before its CRLF ("2" and a padded extension).
  return "2;x=" + std::string(length - 4, 'e') + "\r\n";
}

std::vector<parse_case> cases() {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  return {
      {"length body", ok + "Content-Length: 5\r\nServer: t\r\n\r\nhello", 0, 200, "hello",
       {{"Content-Length", "5"}, {"Server", "t"}}, {}, {}},
      {"204 completes at the blank line",
       "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", 0, 204, "",
       {{"Content-Length", "10"}}, {}, {}},
      {"304 completes at the blank line", "HTTP/1.1 304 Not Modified\r\nETag: x\r\n\r\n", 0, 304,
       "", {{"ETag", "x"}}, {}, {}},
      {"zero length", ok + "Content-Length: 0\r\n\r\n", 0, 200, "", {{"Content-Length", "0"}}, {},
       {}},
      {"no headers at all, close-delimited body", ok + "\r\nabc", http_error::kNeedMoreData, 200,
       "abc", {}, {}, {}},
      {"chunk with extension a=\"b\"",
       ok + "Transfer-Encoding: chunked\r\n\r\n4;a=\"b\"\r\nwxyz\r\n0\r\n\r\n", 0, 200, "wxyz",
       {{"Transfer-Encoding", "chunked"}}, {{4, {{"a", "b"}}}}, {}},
      {"several chunks, bare and spaced extensions",
       ok + "Transfer-Encoding: Chunked\r\n\r\n3; flag ; k = \"v\" ;;\r\nabc\r\nA\r\n0123456789\r\n"
            "0\r\n\r\n",
       0, 200, "abc0123456789", {{"Transfer-Encoding", "Chunked"}},
       {{3, {{"flag", ""}, {"k", "v"}}}, {10, {}}}, {}},
      {"trailers", ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\nX-Sum: 12\r\nY: z\r\n\r\n",
       0, 200, "hi", {{"Transfer-Encoding", "chunked"}}, {{2, {}}}, {{"X-Sum", "12"}, {"Y", "z"}}},
      {"bad trailer", ok + "Transfer-Encoding: chunked\r\n\r\n0\r\nX-Sum:12\r\n\r\n",
       http_error::kBadFraming, 200, "", {{"Transfer-Encoding", "chunked"}}, {}, {}},
      {"body bytes with zeros and CRLFs",
       ok + "Content-Length: 6\r\n\r\n" + std::string("\0\r\n\r\n\0", 6), 0, 200,
       std::string("\0\r\n\r\n\0", 6), {{"Content-Length", "6"}}, {}, {}},
      {"no space after colon", ok + "Content-Length:5\r\n\r\nhello", http_error::kBadHeader, 200,
       "", {}, {}, {}},
      {"two spaces after colon", ok + "Content-Length:  5\r\n\r\nhello", http_error::kBadHeader,
       200, "", {}, {}, {}},
      {"empty header value", ok + "X-E: \r\n\r\n", http_error::kBadHeader, 200, "", {}, {}, {}},
      {"header without colon", ok + "Broken\r\n\r\n", http_error::kBadHeader, 200, "", {}, {}, {}},
      {"status without reason", "HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n",
       http_error::kBadHeader, 200, "", {}, {}, {}},
      {"status code zero", "HTTP/1.1 000 Zero\r\n\r\n", http_error::kBadHeader, 200, "", {}, {},
       {}},
      {"status code not a number", "HTTP/1.1 abc OK\r\n\r\n", http_error::kBadHeader, 200, "",
       {}, {}, {}},
      {"garbage without spaces", "garbage\r\n\r\n", http_error::kBadHeader, 200, "", {}, {}, {}},
      {"content length not a number", ok + "Content-Length: 12a\r\n\r\n", http_error::kBadHeader,
       200, "", {}, {}, {}},
      {"chunk size not hexadecimal", ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n",
       http_error::kBadChunkSize, 200, "", {{"Transfer-Encoding", "chunked"}}, {}, {}},
      {"chunk size beyond 32 bits", ok + "Transfer-Encoding: chunked\r\n\r\n100000000\r\n",
       http_error::kBadChunkSize, 200, "", {{"Transfer-Encoding", "chunked"}}, {}, {}},
      {"chunk data without CRLF", ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhiXY0\r\n\r\n",
       http_error::kBadFraming, 200, "hi", {{"Transfer-Encoding", "chunked"}}, {{2, {}}}, {}},
      {"chunk data followed by CR and junk",
       ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhi\rX0\r\n\r\n", http_error::kBadFraming, 200,
       "hi", {{"Transfer-Encoding", "chunked"}}, {{2, {}}}, {}},
      {"header block of exactly 8192 bytes", block(8192) + "ok", 0, 200, "ok", {}, {}, {}},
      {"header block of 8193 bytes", block(8193) + "ok", 0, 200, "ok", {}, {}, {}},
      {"long Set-Cookie header",
       ok + "Set-Cookie: sid=" + std::string(12000, 'c') + "\r\nContent-Length: 2\r\n\r\nok", 0,
       200, "ok", {{"Set-Cookie", "sid=" + std::string(12000, 'c')}, {"Content-Length", "2"}}, {},
       {}},
      {"header block of exactly 64 KiB", block(kHttpHeaderBlockLimit) + "ok", 0, 200, "ok", {}, {},
       {}},
      {"header block one byte over 64 KiB", block(kHttpHeaderBlockLimit + 1) + "ok",
       http_error::kBadFraming, 200, "", {}, {}, {}},
      {"chunk-size line of 8191 bytes",
       ok + "Transfer-Encoding: chunked\r\n\r\n" + chunk_line(8191) + "hi\r\n0\r\n\r\n", 0, 200,
       "hi", {}, {{2, {{"x", std::string(8187, 'e')}}}}, {}},
      {"chunk-size line of 8192 bytes",
       ok + "Transfer-Encoding: chunked\r\n\r\n" + chunk_line(8192) + "hi\r\n0\r\n\r\n",
       http_error::kBadFraming, 200, "", {}, {}, {}},
      {"trailer block over 8192 bytes",
       ok + "Transfer-Encoding: chunked\r\n\r\n0\r\nX: " + std::string(8190, 't') + "\r\n\r\n",
       http_error::kBadFraming, 200, "", {}, {}, {}},
      {"Content-Length inside another header does not count",
       ok + "X-Original-Content-Length: 99\r\nContent-Length: 2\r\n\r\nab", 0, 200, "ab", {}, {},
       {}},
  };
}

}  // namespace

TEST(HttpResponseParser, GivesTheSameResultForEverySplit) {
  for (const auto& c : cases()) {
    for_each_split(c.bytes, [&](const std::vector<std::string>& pieces, const std::string& how) {
      SCOPED_TRACE(std::string(c.name) + ", " + how);
      const outcome o = feed(pieces);
      ASSERT_EQ(c.result, o.result);
      if (c.result == http_error::kBadHeader) return;
      EXPECT_EQ(c.status, o.response.status_code);
      if (c.result == 0 || c.result == http_error::kNeedMoreData) {
        EXPECT_EQ(c.body, o.body);
      }
      if (!c.headers.empty()) {
        EXPECT_EQ(c.headers, o.response.headers.pairs());
      }
      if (c.result != 0) return;
      ASSERT_EQ(c.chunks.size(), o.response.chunks.size());
      for (std::size_t i = 0; i < c.chunks.size(); ++i) {
        EXPECT_EQ(c.chunks[i].first, o.response.chunks[i].size);
        EXPECT_EQ(c.chunks[i].second, o.response.chunks[i].extensions.pairs());
      }
      EXPECT_EQ(c.trailers, o.response.trailers.pairs());
    });
  }
}

TEST(HttpResponseParser, ReadsTheStatusLine) {
  const outcome o = feed({"HTTP/1.0 404 Not Found Here\r\nContent-Length: 0\r\n\r\n"});
  ASSERT_EQ(0, o.result);
  EXPECT_EQ("HTTP/1.0", o.response.http_version);
  EXPECT_EQ(404, o.response.status_code);
  EXPECT_EQ("Not Found Here", o.response.reason_phrase);
}

TEST(HttpResponseParser, EveryProperPrefixWaitsForMore) {
  // A cut anywhere leaves the message incomplete and never raises an error of its own; only a
  // close-delimited body may be completed by the close.
  for (const auto& c : cases()) {
    if (c.result != 0) continue;
    for (std::size_t cut = 1; cut < c.bytes.size(); ++cut) {
      SCOPED_TRACE(std::string(c.name) + ", cut at " + std::to_string(cut));
      http_response_parser parser;
      http_response response;
      std::string piece;
      ASSERT_EQ(http_error::kNeedMoreData, parser.parse(c.bytes.data(), cut, response, piece));
      EXPECT_FALSE(parser.complete_on_close());
    }
  }
}

TEST(HttpResponseParser, CloseCompletesOnlyABodyWithoutLength) {
  http_response_parser parser;
  http_response response;
  std::string piece;
  const std::string text = "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nuntil close";
  ASSERT_EQ(http_error::kNeedMoreData, parser.parse(text.data(), text.size(), response, piece));
  EXPECT_EQ("until close", piece);
  EXPECT_EQ(-1, parser.content_length());
  EXPECT_TRUE(parser.complete_on_close());
  EXPECT_TRUE(parser.complete());
}

TEST(HttpResponseParser, DataAfterTheEndIsAnError) {
  http_response_parser parser;
  http_response response;
  std::string piece;
  const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabEXTRA";
  ASSERT_EQ(0, parser.parse(text.data(), text.size(), response, piece));
  EXPECT_EQ("ab", piece);
  EXPECT_EQ(http_error::kDataAfterComplete, parser.parse("x", 1, response, piece));
  EXPECT_EQ(http_error::kNoData, http_response_parser().parse("", 0, response, piece));
}

TEST(HttpResponseParser, AnAnswerToHeadEndsWithItsHeaders) {
  http_response_parser parser;
  parser.set_no_body(true);
  http_response response;
  std::string piece;
  const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n";
  EXPECT_EQ(0, parser.parse(text.data(), text.size(), response, piece));
  EXPECT_EQ("500", response.headers.find("Content-Length"));
}

TEST(HttpResponseParser, SixtyFourBitLengths) {
  http_response_parser parser;
  http_response response;
  std::string piece;
  const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: 6000000000\r\n\r\nab";
  ASSERT_EQ(http_error::kNeedMoreData, parser.parse(text.data(), text.size(), response, piece));
  EXPECT_EQ(6000000000LL, parser.content_length());
  EXPECT_EQ(2u, parser.body_received());
  const std::string too_big = "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n";
  http_response_parser p2;
  EXPECT_EQ(http_error::kBadHeader, p2.parse(too_big.data(), too_big.size(), response, piece));
}

TEST(HttpResponseParser, MangledInputNeverCrashes) {
  // Random edits of valid responses: any result is acceptable, but never a crash, and the
  // decoded body never exceeds what was fed.
  std::mt19937 rng(7);
  const auto all = cases();
  for (int round = 0; round < 3000; ++round) {
    std::string text = all[rng() % all.size()].bytes;
    if (text.size() > 400) text.resize(400);
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0: text[at] = "\r\n :;0aF\"x"[rng() % 10]; break;
        case 1: text.erase(at, 1 + rng() % 3); break;
        default: text.insert(at, 1, "\r\n ;9"[rng() % 5]); break;
      }
    }
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t n = 1 + rng() % 9;
      pieces.push_back(text.substr(i, n));
      i += n;
    }
    const outcome o = feed(pieces);
    EXPECT_LE(o.body.size(), text.size());
  }
}

TEST(HttpHeaderList, SetAppendsReplacesAndRemoves) {
  http_header_list h;
  h.set("Host", "a");
  h.set("Accept", "*/*");
  h.set("Host", "b");
  h.append({"Accept", "second"});
  EXPECT_EQ("b", h.find("Host"));
  EXPECT_EQ("*/*", h.find("Accept"));
  EXPECT_EQ("", h.find("host"));  // names compare exactly
  h.set("Accept", "");
  EXPECT_EQ("second", h.find("Accept"));
  h.set("Missing", "");  // a new name is added even with an empty value
  std::string out;
  h.write(out);
  EXPECT_EQ("Host: b\r\nAccept: second\r\nMissing: \r\n\r\n", out);
}

TEST(HttpRequest, SerialisesWithContentLengthFirstWhenNeeded) {
  http_request r;
  r.method = "POST";
  r.request_uri = "/r";
  r.headers.set("Host", "h");
  r.body = "abc";
  EXPECT_EQ("POST /r HTTP/1.1\r\nContent-Length: 3\r\nHost: h\r\n\r\nabc", r.serialize());
  r.headers.set("Content-Length", "3");
  EXPECT_EQ("POST /r HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc", r.serialize());
  http_request g;
  EXPECT_EQ("GET / HTTP/1.1\r\n\r\n", g.serialize());
}

TEST(HttpUrl, SplitsHostPortAndPath) {
  struct row {
    const char* url;
    bool ok;
    const char* host;
    std::uint16_t port;
    const char* uri;
  } rows[] = {
      {"http://h:8080/a?b=c", true, "h", 8080, "/a?b=c"},
      {"http://h", true, "h", 80, "/"},
      {"HTTP://Host.example/x/y", true, "Host.example", 80, "/x/y"},
      {"http://h?q=1", true, "h", 80, "/?q=1"},
      {"http://h/a b#frag", true, "h", 80, "/a%20b"},
      {"http://", false, "", 0, ""},
      {"https://h/", false, "", 0, ""},
      {"ftp://h/x", false, "", 0, ""},
      {"http://:80/", false, "", 0, ""},
      {"http://h:0/", false, "", 0, ""},
      {"http://h:65536/", false, "", 0, ""},
      {"http://h:/", false, "", 0, ""},
      {"http://h/a\r\nX: y", false, "", 0, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.url);
    http_url u;
    ASSERT_EQ(r.ok, parse_http_url(r.url, u));
    if (!r.ok) continue;
    EXPECT_EQ(r.host, u.host);
    EXPECT_EQ(r.port, u.port);
    EXPECT_EQ(r.uri, u.request_uri);
  }
  EXPECT_EQ("h:8080", http_host_value("h", 8080));
  EXPECT_EQ("h", http_host_value("h", 80));
}

TEST(HttpReasonPhrase, KnowsTheStandardCodes) {
  EXPECT_STREQ("OK", http_reason_phrase(200));
  EXPECT_STREQ("Requested range not satisfiable", http_reason_phrase(416));
  EXPECT_STREQ("Gateway Time-out", http_reason_phrase(504));
  EXPECT_STREQ("", http_reason_phrase(306));
  EXPECT_STREQ("", http_reason_phrase(999));
}
