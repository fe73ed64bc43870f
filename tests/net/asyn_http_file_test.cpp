// asyn_http_file against nginx and the fault-injecting server.
#include "http_test_support.h"
#include "qv/asyn_http_file.h"

#include <memory>
#include <vector>

using namespace qv::win32::net;
using namespace http_test;

namespace {

struct file_events : asyn_http_file_event {
  struct ready {
    std::int32_t id;
    std::string url;
    std::uint64_t size;
    std::wstring path;
    std::int32_t code;
  };
  struct progress {
    std::uint64_t range_start, received, total;
  };
  std::vector<ready> readies;
  std::vector<std::pair<std::int32_t, std::int32_t>> errors;  // id, code
  std::vector<progress> progresses;
  std::function<void()> after_final = [] { loop_runner::finish(); };
  std::function<void()> on_progress;

  void on_file_ready(std::int32_t id, const std::string& url, std::uint64_t size,
                     const std::wstring& path, std::int32_t code) override {
    readies.push_back({id, url, size, path, code});
    after_final();
  }
  void on_file_error(std::int32_t id, const std::string&, std::int32_t code) override {
    errors.emplace_back(id, code);
    after_final();
  }
  void on_file_progress(std::int32_t, std::uint64_t range_start, std::uint64_t received,
                        std::uint64_t total) override {
    progresses.push_back({range_start, received, total});
    if (on_progress) on_progress();
  }
  std::size_t finals() const { return readies.size() + errors.size(); }
};

file_events download(const std::string& url, const fs::path& target,
                     const http_header_list& extra = {}) {
  file_events ev;
  asyn_http_file f(&ev);
  EXPECT_TRUE(f.request_file(3, url, extra, target.wstring()));
  EXPECT_TRUE(f.is_requesting());
  loop_runner::run();
  EXPECT_FALSE(f.is_requesting());
  EXPECT_EQ(1u, ev.finals());
  return ev;
}

// Progress reports must climb to the end, each one at the position reached.
void expect_progress_climbs(const file_events& ev, std::uint64_t range_start, std::uint64_t body,
                            std::uint64_t total) {
  ASSERT_FALSE(ev.progresses.empty());
  std::uint64_t last = 0;
  for (const auto& p : ev.progresses) {
    EXPECT_EQ(range_start, p.range_start);
    EXPECT_EQ(total, p.total);
    EXPECT_GT(p.received, last);
    last = p.received;
  }
  EXPECT_EQ(body, last);
}

}  // namespace

TEST(HttpDate, FormatsUtcWithCLocaleNames) {
  EXPECT_EQ("Tue, 05 Mar 2013 14:07:09 GMT", http_date_text(1362492429));
  EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 GMT", http_date_text(0));
  EXPECT_EQ("Tue, 29 Feb 2028 23:59:59 GMT", http_date_text(1835481599));
  EXPECT_EQ("Sun, 07 Feb 2106 06:28:16 GMT", http_date_text(4294967296LL));
}

TEST(AsynHttpFile, DownloadsIntoTheTarget) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  const std::string data = pattern(2500000, 2);
  write_file(s.www / "file_plain.bin", data);
  const fs::path target = dir / "plain.bin";
  file_events ev = download(s.nginx("/file_plain.bin"), target);
  ASSERT_EQ(1u, ev.readies.size());
  EXPECT_EQ(0, ev.readies[0].code);
  EXPECT_EQ(3, ev.readies[0].id);
  EXPECT_EQ(data.size(), ev.readies[0].size);
  EXPECT_EQ(target.wstring(), ev.readies[0].path);
  EXPECT_EQ(s.nginx("/file_plain.bin"), ev.readies[0].url);
  EXPECT_TRUE(read_file(target) == data);
  EXPECT_FALSE(fs::exists(dir / "plain.bin.tmp"));
  expect_progress_climbs(ev, 0, data.size(), data.size());
}

TEST(AsynHttpFile, AnEmptyBodyMakesAnEmptyFile) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  write_file(s.www / "file_empty.bin", "");
  file_events ev = download(s.nginx("/file_empty.bin"), dir / "e.bin");
  ASSERT_EQ(1u, ev.readies.size());
  EXPECT_EQ(0, ev.readies[0].code);
  EXPECT_TRUE(fs::exists(dir / "e.bin"));
  EXPECT_EQ(0u, fs::file_size(dir / "e.bin"));
}

TEST(AsynHttpFile, AnUnchangedTargetIsNotModified) {
  // nginx answers 304 only when If-Modified-Since equals its Last-Modified text exactly, so this
  // also proves the date text.
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  write_file(s.www / "file_same.bin", pattern(5000, 3));
  const fs::path target = dir / "same.bin";
  write_file(target, "the local copy");
  fs::last_write_time(target, fs::last_write_time(s.www / "file_same.bin"));
  file_events ev = download(s.nginx("/file_same.bin"), target);
  ASSERT_EQ(1u, ev.readies.size());
  EXPECT_EQ(1, ev.readies[0].code);
  EXPECT_EQ("the local copy", read_file(target));
  EXPECT_TRUE(ev.progresses.empty());

  // A different time on the target: the server sends the file.
  fs::last_write_time(target, fs::last_write_time(target) - std::chrono::hours(48));
  file_events again = download(s.nginx("/file_same.bin"), target);
  ASSERT_EQ(1u, again.readies.size());
  EXPECT_EQ(0, again.readies[0].code);
  EXPECT_TRUE(read_file(target) == pattern(5000, 3));
}

TEST(AsynHttpFile, ResumesAtTheOffsetTheServerNames) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  const std::string data = pattern(2000, 4);
  write_file(s.www / "file_resume.bin", data);
  const fs::path target = dir / "r.bin";
  write_file(dir / "r.bin.tmp", data.substr(0, 1000));
  http_header_list range;
  range.set("Range", "bytes=1000-");
  file_events ev = download(s.nginx("/file_resume.bin"), target, range);
  ASSERT_EQ(1u, ev.readies.size());
  EXPECT_EQ(0, ev.readies[0].code);
  EXPECT_EQ(2000u, ev.readies[0].size);
  expect_progress_climbs(ev, 1000, 1000, 2000);
  EXPECT_TRUE(read_file(target) == data);
}

TEST(AsynHttpFile, AFullAnswerToAResumeLeavesNoStaleBytes) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  const std::string data = pattern(3000, 5);
  write_file(s.www / "file_stale.bin", data);
  const fs::path target = dir / "s.bin";
  // An earlier attempt left more than the whole file; the entity changed since (If-Range does
  // not match), so the server answers 200 with everything.
  write_file(dir / "s.bin.tmp", std::string(9000, 'X'));
  http_header_list range;
  range.set("Range", "bytes=2000-");
  range.set("If-Range", "\"an-older-version\"");
  file_events ev = download(s.nginx("/file_stale.bin"), target, range);
  ASSERT_EQ(1u, ev.readies.size());
  EXPECT_EQ(0, ev.readies[0].code);
  EXPECT_EQ(data.size(), fs::file_size(target));
  EXPECT_TRUE(read_file(target) == data);
}

TEST(AsynHttpFile, PositionsBeyondFourGigabytes) {
  // A sparse file of 5 GiB on the server; the last 120 bytes are asked for and must land at
  // their 64-bit offset of the (sparse) temporary file.
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  const std::uint64_t size = 5ULL << 30;
  const std::string tail = pattern(120, 6);
  {
    std::ofstream out(s.www / "file_huge.bin", std::ios::binary | std::ios::trunc);
    out.seekp(static_cast<std::streamoff>(size - tail.size()));
    out << tail;
  }
  ASSERT_EQ(size, fs::file_size(s.www / "file_huge.bin"));
  const fs::path target = dir / "h.bin";
  http_header_list range;
  range.set("Range", "bytes=" + std::to_string(size - tail.size()) + "-");
  file_events ev = download(s.nginx("/file_huge.bin"), target, range);
  ASSERT_EQ(1u, ev.readies.size());
  EXPECT_EQ(0, ev.readies[0].code);
  EXPECT_EQ(size, ev.readies[0].size);
  expect_progress_climbs(ev, size - tail.size(), tail.size(), size);
  ASSERT_EQ(size, fs::file_size(target));
  std::ifstream in(target, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(size - tail.size()));
  std::string got(tail.size(), '\0');
  in.read(&got[0], static_cast<std::streamsize>(got.size()));
  EXPECT_TRUE(got == tail);
  in.close();
  fs::remove(target);
  fs::remove(s.www / "file_huge.bin");
}

TEST(AsynHttpFile, AnHttpErrorLeavesTheTargetAlone) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  const fs::path target = dir / "m.bin";
  write_file(target, "keep me");
  file_events ev = download(s.nginx("/no/such/file.bin"), target);
  ASSERT_EQ(1u, ev.errors.size());
  EXPECT_EQ(404, ev.errors[0].second);
  EXPECT_EQ(3, ev.errors[0].first);
  EXPECT_EQ("keep me", read_file(target));
}

TEST(AsynHttpFile, AFailedTransferKeepsAnExistingTarget) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  // Cut inside the body (the head of the canonical answer is 54 bytes long).
  const std::string url = s.fault("/cut/58");
  const fs::path target = dir / "f.bin";
  file_events none = download(url, target);
  ASSERT_EQ(1u, none.errors.size());
  EXPECT_EQ(http_error::kConnectionClosed, none.errors[0].second);
  EXPECT_FALSE(fs::exists(target));
  // What arrived stays in the temporary file for a later resume.
  EXPECT_EQ("0123", read_file(dir / "f.bin.tmp"));

  write_file(target, "older copy");
  file_events kept = download(url, target);
  ASSERT_EQ(1u, kept.readies.size());
  EXPECT_EQ(2, kept.readies[0].code);
  EXPECT_EQ(10u, kept.readies[0].size);
  EXPECT_EQ("older copy", read_file(target));

  file_events refused = download("http://127.0.0.1:1/x", target);
  ASSERT_EQ(1u, refused.readies.size());
  EXPECT_EQ(2, refused.readies[0].code);
}

TEST(AsynHttpFile, OneDownloadAtATimeAndCloseIsSilent) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  file_events ev;
  asyn_http_file f(&ev);
  EXPECT_FALSE(f.request_file(1, "", {}, (dir / "a").wstring()));
  EXPECT_FALSE(f.request_file(1, s.fault("/trickle"), {}, L""));
  EXPECT_FALSE(f.request_file(1, "https://127.0.0.1/x", {}, (dir / "a").wstring()));
  EXPECT_FALSE(f.is_requesting());
  ASSERT_TRUE(f.request_file(1, s.fault("/trickle"), {}, (dir / "a").wstring()));
  EXPECT_FALSE(f.request_file(2, s.fault("/trickle"), {}, (dir / "b").wstring()));
  f.close();
  EXPECT_FALSE(f.is_requesting());
  // A new download from inside the final event of the previous one.
  int n = 0;
  ev.after_final = [&] {
    if (++n == 1)
      EXPECT_TRUE(f.request_file(5, s.fault("/chunked"), {}, (dir / "c").wstring()));
    else
      loop_runner::finish();
  };
  ASSERT_TRUE(f.request_file(4, s.fault("/chunked"), {}, (dir / "b").wstring()));
  loop_runner::run();
  ASSERT_EQ(2u, ev.readies.size());
  EXPECT_EQ(4, ev.readies[0].id);
  EXPECT_EQ(5, ev.readies[1].id);
  EXPECT_EQ("wxyz12345", read_file(dir / "b"));
  EXPECT_EQ("wxyz12345", read_file(dir / "c"));
  EXPECT_TRUE(ev.errors.empty());
}

TEST(AsynHttpFile, TheOwnerMayDestroyItFromAProgressReport) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  file_events ev;
  auto f = std::make_unique<asyn_http_file>(&ev);
  ev.on_progress = [&] {
    f.reset();
    qv::loop::post_quit(0);
  };
  ASSERT_TRUE(f->request_file(1, s.fault("/trickle"), {}, (dir / "d").wstring()));
  loop_runner::run();
  EXPECT_EQ(nullptr, f);
  EXPECT_EQ(1u, ev.progresses.size());
  EXPECT_EQ(0u, ev.finals());
}
