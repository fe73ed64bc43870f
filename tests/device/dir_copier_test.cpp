// Folder copies on the worker, reported on the UI thread.
#include <gtest/gtest.h>

#include "device/file_transfer.h"
#include "qv/text.h"

#include "loop_helpers.h"
#include "transfer_test_support.h"

using namespace device;
using namespace transfer_test;
using device_test::run_until;
using device_test::settle;

namespace {

struct recorder {
  std::vector<transfer_report> reports;
  transfer_callback callback() {
    return [this](const transfer_report& r) { reports.push_back(r); };
  }
  bool ended() const { return !reports.empty() && reports.back().status != transfer_status::kProgress; }
  std::int32_t last_status() const { return reports.empty() ? 0 : reports.back().status; }
};

}  // namespace

TEST(DirCopier, AFolderIsCopiedWithLowerCasedRelativePathsBelowTheTarget) {
  temp_folder t;
  write_file(t.path() / "Src" / "Top.TXT", "top");
  write_file(t.path() / "Src" / "Nested" / "Big.BIN", pattern(2097152 + 10));
  write_file(t.path() / "Src" / "Nested" / "Empty", "");
  dir_copier copier;
  copier.init();
  recorder rec;
  // No final backslash: one is added. The target folder keeps its case.
  const std::uint32_t id = copier.copy(t.text("Out Dir"), t.text("Src"), rec.callback());
  ASSERT_TRUE(run_until([&] { return rec.ended(); }));
  EXPECT_EQ(transfer_status::kFinished, rec.last_status());
  EXPECT_EQ("top", read_file(t.path() / "Out Dir" / "top.txt"));
  EXPECT_TRUE(read_file(t.path() / "Out Dir" / "nested" / "big.bin") == pattern(2097152 + 10));
  EXPECT_EQ("", read_file(t.path() / "Out Dir" / "nested" / "empty"));
  // Big.BIN in two chunks, Top.TXT in one, then the end.
  ASSERT_EQ(4u, rec.reports.size());
  EXPECT_EQ(2097152u, rec.reports[0].done);
  EXPECT_EQ(2097162u + 3, rec.reports.back().done);
  EXPECT_EQ(2097162u + 3, rec.reports.back().total);
  EXPECT_EQ(id, rec.reports.back().id);
  settle(50);
  EXPECT_FALSE(copier.has_task(id));
}

TEST(DirCopier, ASingleFileKeepsItsNameInTheTargetFolder) {
  temp_folder t;
  write_file(t.path() / "One.TXT", "1");
  dir_copier copier;
  copier.init();
  recorder rec;
  copier.copy(t.text("dest") + "\\", t.text("One.TXT"), rec.callback());
  ASSERT_TRUE(run_until([&] { return rec.ended(); }));
  EXPECT_EQ(transfer_status::kFinished, rec.last_status());
  EXPECT_EQ("1", read_file(t.path() / "dest" / "One.TXT"));
}

TEST(DirCopier, FailuresEndWith3000AndLeaveEverySourceAsItWas) {
  temp_folder t;
  write_file(t.path() / "blocker", "a file where a folder should be");
  write_file(t.path() / "src.txt", "x");
  write_file(t.path() / "dir" / "same.txt", "keep me");
  struct failure_case {
    const char* name;
    std::string target;
    std::string source;
  };
  const failure_case cases[] = {
      {"missing source", t.text("out"), t.text("missing.txt")},
      {"target cannot be created", t.text("blocker\\sub"), t.text("src.txt")},
      // The target folder is the source's own: each target is its source file.
      {"a file onto itself", t.text("dir"), t.text("dir\\same.txt")},
      {"a folder onto itself", t.text("dir") + "\\", t.text("dir")},
  };
  dir_copier copier;
  copier.init();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    recorder rec;
    const std::uint32_t id = copier.copy(c.target, c.source, rec.callback());
    ASSERT_TRUE(run_until([&] { return rec.ended(); }));
    EXPECT_EQ(transfer_status::kLocalFile, rec.last_status());
    EXPECT_EQ("x", read_file(t.path() / "src.txt"));
    EXPECT_EQ("keep me", read_file(t.path() / "dir" / "same.txt"));
    EXPECT_TRUE(copier.has_task(id)) << "kept until cancelled";
    copier.cancel(id);
    EXPECT_FALSE(copier.has_task(id));
  }
}

TEST(DirCopier, CancelReleasesTheTaskWithoutAnotherCallback) {
  temp_folder t;
  write_file(t.path() / "big", pattern(16 * 2097152));
  dir_copier copier;
  copier.init();
  recorder rec;
  std::uint32_t id = 0;
  std::size_t at_cancel = 0;
  id = copier.copy(t.text("out"), t.text("big"), [&](const transfer_report& r) {
    rec.reports.push_back(r);
    if (rec.reports.size() == 1) {
      copier.cancel(id);
      at_cancel = rec.reports.size();
    }
  });
  ASSERT_TRUE(run_until([&] { return !copier.has_task(id); }));
  settle(200);
  EXPECT_EQ(1u, at_cancel);
  EXPECT_EQ(1u, rec.reports.size());
  EXPECT_EQ(0u, copier.task_count());
}
