// Downloads one URL into one file through an asyn_http: the body streams into "<path>.tmp"
// (written at the offset a "Content-Range" names), and replaces the target when complete.
#pragma once

#include "qv/asyn_http.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qv::win32::net {

namespace os {
class download_file;
}

class asyn_http_file_event {
 public:
  virtual ~asyn_http_file_event() = default;
  // A usable file stands at path. code 0: downloaded; 1: not modified; 2: the request failed but
  // the existing file stands.
  virtual void on_file_ready(std::int32_t request_id, const std::string& url, std::uint64_t size,
                             const std::wstring& path, std::int32_t code) = 0;
  // No file: an HTTP status, an operating-system error number of a file operation, or an error
  // number of the client.
  virtual void on_file_error(std::int32_t request_id, const std::string& url,
                             std::int32_t code) = 0;
  // After every piece written; the position reached in the file is range_start + received.
  virtual void on_file_progress(std::int32_t request_id, std::uint64_t range_start,
                                std::uint64_t received, std::uint64_t total_size) = 0;
};

// "Tue, 05 Mar 2013 14:07:09 GMT" for seconds since 1970 (UTC), with C-locale names.
std::string http_date_text(std::int64_t unix_seconds);

class asyn_http_file : public asyn_http_event {
 public:
  explicit asyn_http_file(asyn_http_file_event* owner);
  ~asyn_http_file() override;
  asyn_http_file(const asyn_http_file&) = delete;
  asyn_http_file& operator=(const asyn_http_file&) = delete;

  // False when path or url is empty, a download is active, or the client refuses the URL.
  // When a file exists at path, asks only for changes ("If-Modified-Since" its time).
  bool request_file(std::int32_t request_id, const std::string& url,
                    const http_header_list& extra_headers, const std::wstring& path);
  bool is_requesting() const { return !path_.empty(); }
  // Abandons the download without events; the temporary file stays for a later resume.
  void close();

 private:
  void on_response(std::int32_t request_id, const http_response& response) override;
  void on_error(std::int32_t request_id, std::int32_t error_code) override;
  void on_data(std::int32_t request_id, const http_response& response, const char* data,
               std::uint32_t length, std::uint64_t offset, bool& keep) override;

  void end_ready(std::int32_t code);
  void end_error(std::int32_t code);

  asyn_http_file_event* owner_;
  std::int32_t request_id_ = 0;
  std::string url_;
  std::wstring path_;
  std::wstring tmp_path_;
  std::unique_ptr<os::download_file> file_;
  std::uint64_t received_ = 0;
  std::uint64_t total_size_ = 0;
  std::uint64_t range_start_ = 0;
  std::shared_ptr<bool> alive_;
  // Declared last: destroyed first, so its last events cannot reach a half-destroyed object.
  asyn_http http_;
};

}  // namespace qv::win32::net
