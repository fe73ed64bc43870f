// The sender's worker and its hand-off to the UI thread, against a loopback sink of the test.
#include <gtest/gtest.h>

#include "device/file_transfer.h"
#include "qv/text.h"

#include "loop_helpers.h"
#include "transfer_test_support.h"

#include <string>
#include <vector>

using namespace device;
using namespace transfer_test;
using device_test::deliver_posted;
using device_test::run_until;
using device_test::settle;

namespace {

struct recorder {
  std::vector<transfer_report> reports;
  transfer_callback callback() {
    return [this](const transfer_report& r) { reports.push_back(r); };
  }
  bool ended() const {
    return !reports.empty() && reports.back().status != transfer_status::kProgress;
  }
  std::int32_t last_status() const { return reports.empty() ? 0 : reports.back().status; }
};

}  // namespace

TEST(FileSender, AFolderGoesFileByFileWithLowerCasedDevicePaths) {
  send_sink sink;
  temp_folder local;
  write_file(local.path() / "Photos" / "B.txt", "bee");
  write_file(local.path() / "Photos" / "Sub Dir" / "Deep" / "File.TXT", pattern(1200000));
  write_file(local.path() / "Photos" / "a.bin", "");
  file_sender sender(sink.port());
  sender.init();
  recorder rec;
  // No final "/": SendCommonFile adds it.
  const std::uint32_t id = sender.send(transfer_code::kSendCommonFile, "/sdcard/In", local.text("Photos"), rec.callback());
  EXPECT_EQ(1u, id);
  ASSERT_TRUE(run_until([&] { return rec.ended(); }));
  EXPECT_EQ(transfer_status::kFinished, rec.last_status());
  // Names in code-unit order within each folder: "B.txt" < "Sub Dir" < "a.bin".
  const auto files = sink.files();
  ASSERT_EQ(3u, files.size());
  EXPECT_EQ("/sdcard/In/b.txt", files[0].path);
  EXPECT_EQ("/sdcard/In/sub dir/deep/file.txt", files[1].path);
  EXPECT_EQ("/sdcard/In/a.bin", files[2].path);
  EXPECT_EQ("bee", files[0].contents);
  EXPECT_TRUE(files[1].contents == pattern(1200000));
  EXPECT_EQ("", files[2].contents);
  for (const auto& f : files) {
    EXPECT_EQ(3, f.code);
    EXPECT_EQ(4 + f.path.size() + f.contents.size(), f.length) << "the length counts the contents";
  }
  // One report per chunk: b.txt one, the 1.2 MB file three, the 0-byte file none; then the end.
  ASSERT_EQ(5u, rec.reports.size());
  const std::uint64_t done[] = {3, 3 + 512000, 3 + 1024000, 1200003, 1200003};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(id, rec.reports[i].id);
    EXPECT_EQ(1200003u, rec.reports[i].total);
    EXPECT_EQ(done[i], rec.reports[i].done);
    EXPECT_EQ(i < 4 ? transfer_status::kProgress : transfer_status::kFinished, rec.reports[i].status);
  }
  EXPECT_EQ(local.text("Photos\\Sub Dir\\Deep\\File.TXT"), qv::text::wide_to_utf8(rec.reports[1].current_file));
  EXPECT_EQ(local.text("Photos\\a.bin"), qv::text::wide_to_utf8(rec.reports[4].current_file));
  EXPECT_FALSE(sender.has_task(id)) << "a finished task is released";
}

TEST(FileSender, ASingleFileKeepsTheCaseOfItsNameAndTheMethodsCode) {
  send_sink sink;
  temp_folder local;
  write_file(local.path() / "MyApp.APK", "apk");
  file_sender sender(sink.port());
  sender.init();
  recorder rec;
  sender.send(transfer_code::kSendApp, "/data/local/tmp/", local.text("MyApp.APK"), rec.callback());
  ASSERT_TRUE(run_until([&] { return rec.ended(); }));
  EXPECT_EQ(transfer_status::kFinished, rec.last_status());
  ASSERT_EQ(1u, sink.files().size());
  EXPECT_EQ(20, sink.files()[0].code);
  EXPECT_EQ("/data/local/tmp/MyApp.APK", sink.files()[0].path);
}

// The task's end comes from the agent's answer: when the agent closes instead, the task fails,
// so the worker waited for the answer and reported nothing before it.
TEST(FileSender, AnEmptyFileSendsOnlyItsHeaderAndStillWaitsForTheAnswer) {
  for (const bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "the agent answers" : "the agent closes without answering");
    send_sink sink(answers ? send_sink::mode::hold_zero : send_sink::mode::close_silent);
    temp_folder local;
    write_file(local.path() / "empty.dat", "");
    file_sender sender(sink.port());
    sender.init();
    recorder rec;
    sender.send(transfer_code::kSendCommonFile, "/sdcard/", local.text("empty.dat"), rec.callback());
    if (answers) {
      ASSERT_TRUE(run_until([&] { return sink.complete() == 1; }));
      sink.release();
    }
    ASSERT_TRUE(run_until([&] { return rec.ended(); }));
    ASSERT_EQ(1u, rec.reports.size());
    EXPECT_EQ(answers ? transfer_status::kFinished : transfer_status::kWrite, rec.reports[0].status);
    EXPECT_EQ(0u, rec.reports[0].total);
    ASSERT_EQ(1u, sink.files().size());
    EXPECT_EQ("", sink.files()[0].contents);
  }
}

TEST(FileSender, FailuresEndTheTaskWithTheirStatusAndKeepItUntilCancelled) {
  struct failure_case {
    const char* name;
    send_sink::mode sink_mode;
    bool listening;
    bool file_exists;
    std::int32_t status;
  };
  const failure_case cases[] = {
      {"no agent", send_sink::mode::answer, false, true, transfer_status::kConnect},
      {"missing local file", send_sink::mode::answer, true, false, transfer_status::kOpenSource},
      {"agent closes mid-file", send_sink::mode::close_early, true, true, transfer_status::kWrite},
      {"agent closes instead of answering", send_sink::mode::close_silent, true, true, transfer_status::kWrite},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    send_sink sink(c.sink_mode);
    temp_folder local;
    if (c.file_exists) write_file(local.path() / "f.bin", pattern(3 * 512000));
    file_sender sender(c.listening ? sink.port() : closed_port());
    sender.init();
    recorder rec;
    const std::uint32_t id = sender.send(transfer_code::kSendCommonFile, "/x/", local.text("f.bin"), rec.callback());
    ASSERT_TRUE(run_until([&] { return rec.ended(); }));
    EXPECT_EQ(c.status, rec.last_status());
    EXPECT_TRUE(sender.has_task(id)) << "kept";
    const std::size_t connections = sink.connections();
    const std::size_t reports = rec.reports.size();
    // A later task still runs (it fails before connecting). Tasks run in id order, so a restart
    // of the failed task would have come, with its reports, before this one's end.
    recorder next;
    sender.send(transfer_code::kSendCommonFile, "/x/", local.text("missing"), next.callback());
    ASSERT_TRUE(run_until([&] { return next.ended(); }));
    EXPECT_EQ(transfer_status::kOpenSource, next.last_status());
    EXPECT_EQ(connections, sink.connections()) << "the failed task was not sent again";
    EXPECT_EQ(reports, rec.reports.size()) << "the failed task was not run again";
    sender.cancel(id);
    EXPECT_FALSE(sender.has_task(id));
  }
}

TEST(FileSender, CancellingAQueuedTaskReleasesItAndTheWorkerNeverSeesIt) {
  send_sink sink(send_sink::mode::never_answer);
  temp_folder local;
  write_file(local.path() / "one", "1");
  write_file(local.path() / "two", "2");
  file_sender sender(sink.port());
  sender.init();
  recorder first, second;
  const std::uint32_t a = sender.send(transfer_code::kSendCommonFile, "/x/", local.text("one"), first.callback());
  ASSERT_TRUE(run_until([&] { return sink.complete() == 1; }));
  const std::uint32_t b = sender.send(transfer_code::kSendCommonFile, "/x/", local.text("two"), second.callback());
  sender.cancel(b);
  EXPECT_FALSE(sender.has_task(b));
  EXPECT_TRUE(sender.has_task(a));
  // Cancelling the running one closes its connection and calls nothing more.
  run_until([&] { return !first.reports.empty(); });
  const std::size_t seen = first.reports.size();
  sender.cancel(a);
  ASSERT_TRUE(run_until([&] { return sink.closed_by_host() == 1; }));
  ASSERT_TRUE(run_until([&] { return !sender.has_task(a); }));
  // A later task (failing before it connects) runs after anything left of the first two.
  recorder third;
  sender.send(transfer_code::kSendCommonFile, "/x/", local.text("missing"), third.callback());
  ASSERT_TRUE(run_until([&] { return third.ended(); }));
  EXPECT_EQ(seen, first.reports.size());
  EXPECT_TRUE(second.reports.empty());
  EXPECT_EQ(1u, sink.connections());
}

TEST(FileSender, CancelAllAndUnInitEndARunningTransferWithoutCallbacks) {
  for (int uninit = 0; uninit < 2; ++uninit) {
    SCOPED_TRACE(uninit ? "UnInit" : "CancelAll");
    send_sink sink(send_sink::mode::never_answer);
    temp_folder local;
    write_file(local.path() / "big", pattern(2 * 512000));
    file_sender sender(sink.port());
    sender.init();
    recorder rec;
    const std::uint32_t id = sender.send(transfer_code::kSendCommonFile, "/x/", local.text("big"), rec.callback());
    sender.send(transfer_code::kSendCommonFile, "/x/", local.text("big"), rec.callback());
    ASSERT_TRUE(run_until([&] { return sink.complete() == 1; }));
    if (uninit) {
      sender.uninit();
    } else {
      sender.cancel_all();
    }
    EXPECT_EQ(0u, sender.task_count());
    EXPECT_FALSE(sender.has_task(id));
    ASSERT_TRUE(run_until([&] { return sink.closed_by_host() == 1; }));
    const std::size_t seen = rec.reports.size();
    if (uninit) {
      // The worker has ended: every report it posted is delivered here.
      ASSERT_TRUE(deliver_posted());
    } else {
      // A later task (failing before it connects) runs after anything left of the dropped two.
      recorder later;
      sender.send(transfer_code::kSendCommonFile, "/x/", local.text("missing"), later.callback());
      ASSERT_TRUE(run_until([&] { return later.ended(); }));
    }
    EXPECT_EQ(seen, rec.reports.size());
    for (const auto& r : rec.reports) EXPECT_EQ(transfer_status::kProgress, r.status);
    EXPECT_EQ(1u, sink.connections());
  }
}

TEST(FileSender, DestroyingTheSenderWithReportsInFlightDeliversNothing) {
  send_sink sink;
  temp_folder local;
  write_file(local.path() / "f", pattern(4 * 512000));
  int calls = 0;
  {
    file_sender sender(sink.port());
    sender.init();
    sender.send(transfer_code::kSendCommonFile, "/x/", local.text("f"), [&](const transfer_report&) { ++calls; });
    while (sink.complete() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The worker ended with the sender: its reports are all posted, and are delivered here.
  ASSERT_TRUE(deliver_posted());
  EXPECT_EQ(0, calls);
}

TEST(FileSender, TestConnectTellsWhetherTheAgentListens) {
  send_sink sink;
  EXPECT_TRUE(file_sender(sink.port()).test_connect());
  EXPECT_FALSE(file_sender(closed_port()).test_connect());
}

TEST(FileSender, TasksQueuedBeforeInitWaitForIt) {
  send_sink sink;
  temp_folder local;
  write_file(local.path() / "f", "x");
  file_sender sender(sink.port());
  recorder rec;
  sender.send(transfer_code::kSendCommonFile, "/x/", local.text("f"), rec.callback());
  settle(100);
  EXPECT_EQ(0u, sink.connections());
  sender.init();
  ASSERT_TRUE(run_until([&] { return rec.ended(); }));
  EXPECT_EQ(transfer_status::kFinished, rec.last_status());
}

TEST(TransferPaths, DevicePathsAndCopyTargets) {
  EXPECT_EQ("/d/sub/ünï.txt", file_sender::device_path(L"/d/", L"C:\\x", true, L"SUB\\\u00dcN\u00cf.TXT"));
  EXPECT_EQ("/d/Name.TXT", file_sender::device_path(L"/d/", L"C:\\x/Name.TXT", false, L"C:\\x/Name.TXT"));
  EXPECT_EQ(L"D:\\T\\sub\\a.txt", dir_copier::target_path(L"D:\\T\\", L"C:\\S", true, L"Sub\\A.TXT"));
  EXPECT_EQ(L"D:\\T\\A.TXT", dir_copier::target_path(L"D:\\T\\", L"C:\\S\\A.TXT", false, L"C:\\S\\A.TXT"));
  EXPECT_EQ(L"\u0430\u0451\u03b1", transfer_lower(L"\u0410\u0401\u0391"));
}
