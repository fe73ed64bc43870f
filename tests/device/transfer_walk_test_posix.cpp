// Sending and copying a folder whose names hold "\" or whose links lead out of it: only what is
// inside the folder is read, only the target is written, and a name that cannot reach the Lua
// code as Windows path text is left out with a log line.
#include <gtest/gtest.h>

#include "device/file_transfer.h"
#include "device/socket_message_manager.h"

#include "hostile_tree_posix.h"
#include "loop_helpers.h"
#include "transfer_test_support.h"

#include <cctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using namespace device;
using namespace transfer_test;
using device_test::run_until;

namespace {

// The lines the workers log while it lives.
class log_capture {
 public:
  log_capture() {
    previous_ = set_log_sink([this](const std::string& line) {
      std::lock_guard<std::mutex> g(m_);
      lines_.push_back(line);
    });
  }
  ~log_capture() { set_log_sink(previous_); }
  bool mentions(const std::string& text) const {
    std::lock_guard<std::mutex> g(m_);
    for (const auto& l : lines_)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  mutable std::mutex m_;
  std::vector<std::string> lines_;
  log_sink previous_;
};

struct last_status {
  std::int32_t status = 0;
  transfer_callback callback() {
    return [this](const transfer_report& r) {
      if (r.status != transfer_status::kProgress) status = r.status;
    };
  }
};

// What a walk should find below the tree: relative path (lower case, "/") -> content. Names that
// Lua cannot be given are left out, links to folders are not walked, links to files are read.
std::map<std::string, std::string> expected_files() {
  std::map<std::string, std::string> out;
  for (const auto& r : hostile_tree::rows()) {
    if (!r.lua_safe) continue;
    std::string name = r.name;
    for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    switch (r.what) {
      case hostile_tree::kind::file: out[name] = hostile_tree::content_of(r); break;
      case hostile_tree::kind::dir: out[name + "/own.txt"] = hostile_tree::content_of(r); break;
      case hostile_tree::kind::file_link: out[name] = "kept outside"; break;
      case hostile_tree::kind::dir_link: break;
    }
  }
  return out;
}

std::map<std::string, std::string> files_below(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_symlink())
      out[it->path().lexically_relative(dir).string()] = "<link>";
    else if (it->is_regular_file())
      out[it->path().lexically_relative(dir).string()] = hostile_tree::read(it->path());
  }
  return out;
}

void expect_skipped_names_logged(const log_capture& log) {
  for (const auto& r : hostile_tree::rows()) {
    if (r.lua_safe) continue;
    EXPECT_TRUE(log.mentions(r.name)) << r.name;
  }
}

}  // namespace

TEST(TransferWalkPosix, CopyingAFolderReadsAndWritesOnlyInsideSourceAndTarget) {
  temp_folder t;
  const hostile_tree::fixture f(t.path());
  log_capture log;
  {
    dir_copier copier;
    copier.init();
    last_status end;
    copier.copy(hostile_tree::fixture::lua_text(t.path() / "out"), hostile_tree::fixture::lua_text(f.tree()),
                end.callback());
    ASSERT_TRUE(run_until([&] { return end.status != 0; }));
    EXPECT_EQ(transfer_status::kFinished, end.status);
  }
  EXPECT_EQ(f.before({"out"}), f.outside({"out"}));
  EXPECT_EQ(expected_files(), files_below(t.path() / "out"));
  expect_skipped_names_logged(log);
}

TEST(TransferWalkPosix, SendingAFolderReadsOnlyInsideItAndNamesOnlyPathsBelowTheDeviceFolder) {
  temp_folder t;
  const hostile_tree::fixture f(t.path());
  log_capture log;
  send_sink sink;
  {
    file_sender sender(sink.port());
    sender.init();
    last_status end;
    sender.send(transfer_code::kSendCommonFile, "/sdcard/In/", hostile_tree::fixture::lua_text(f.tree()),
                end.callback());
    ASSERT_TRUE(run_until([&] { return end.status != 0; }));
    EXPECT_EQ(transfer_status::kFinished, end.status);
  }
  std::map<std::string, std::string> sent;
  for (const auto& file : sink.files()) {
    ASSERT_EQ(0u, file.path.rfind("/sdcard/In/", 0)) << file.path;
    sent[file.path.substr(11)] = file.contents;
  }
  EXPECT_EQ(expected_files(), sent);
  EXPECT_EQ(f.before(), f.outside());
  expect_skipped_names_logged(log);
}
