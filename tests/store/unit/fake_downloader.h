// A stand-in for the HTTP file downloader: remembers requests and lets a test finish them the
// way the real one does (idle again before the final event).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "store/download_queue.h"
#include "qv/path.h"

namespace store_test {

using store::file_download_events;
using store::header_list;

class fake_downloader : public store::file_downloader {
 public:
  struct request {
    std::int32_t id;
    std::string url;
    header_list headers;
    std::u16string path;
    bool parent_existed;
  };

  explicit fake_downloader(file_download_events& events) : events_(events) {}

  bool request_file(std::int32_t id, const std::string& url, const header_list& headers,
                    const std::u16string& path) override {
    if (active_ || url.empty() || path.empty()) return false;
    std::u16string p = path;
    for (char16_t& c : p)
      if (c == u'\\') c = u'/';
    const bool parent_existed =
        std::filesystem::is_directory(qv::path::to_fs_path(p).parent_path());
    requests.push_back({id, url, headers, path, parent_existed});
    active_ = true;
    return true;
  }
  bool is_requesting() const override { return active_; }
  void close() override {
    ++closes;
    active_ = false;
  }

  void progress(std::uint64_t range_start, std::uint64_t received, std::uint64_t total) {
    ASSERT_TRUE(active_);
    events_.on_file_progress(requests.back().id, range_start, received, total);
  }
  void ready(std::uint64_t size, int code = 0) {
    ASSERT_TRUE(active_);
    active_ = false;
    const request r = requests.back();
    events_.on_file_ready(r.id, r.url, size, r.path, code);
  }
  void error(std::int32_t code) {
    ASSERT_TRUE(active_);
    active_ = false;
    const request r = requests.back();
    events_.on_file_error(r.id, r.url, code);
  }

  std::vector<request> requests;
  int closes = 0;

 private:
  file_download_events& events_;
  bool active_ = false;
};

}  // namespace store_test
