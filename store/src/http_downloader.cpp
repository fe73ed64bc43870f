#include "store/http_downloader.h"

#include "qv/asyn_http_file.h"
#include "qv/text.h"

namespace store {
namespace {

namespace net = qv::win32::net;

class http_downloader : public file_downloader, private net::asyn_http_file_event {
 public:
  explicit http_downloader(file_download_events& events) : events_(events), file_(this) {}

  bool request_file(std::int32_t id, const std::string& url, const header_list& extra,
                    const std::u16string& path) override {
    net::http_header_list headers;
    for (const auto& [name, value] : extra) headers.set(name, value);
    return file_.request_file(id, url, headers, qv::text::utf16_to_wide(path));
  }
  bool is_requesting() const override { return file_.is_requesting(); }
  void close() override { file_.close(); }

 private:
  void on_file_ready(std::int32_t id, const std::string& url, std::uint64_t size,
                     const std::wstring& path, std::int32_t code) override {
    events_.on_file_ready(id, url, size, qv::text::wide_to_utf16(path), code);
  }
  void on_file_error(std::int32_t id, const std::string& url, std::int32_t code) override {
    events_.on_file_error(id, url, code);
  }
  void on_file_progress(std::int32_t id, std::uint64_t range_start, std::uint64_t received,
                        std::uint64_t total_size) override {
    events_.on_file_progress(id, range_start, received, total_size);
  }

  file_download_events& events_;
  net::asyn_http_file file_;
};

}  // namespace

std::unique_ptr<file_downloader> make_http_downloader(file_download_events& events) {
  return std::make_unique<http_downloader>(events);
}

}  // namespace store
