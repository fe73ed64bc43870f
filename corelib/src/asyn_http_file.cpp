#include "qv/asyn_http_file.h"

#include "http_file_os.h"

#include <cstdio>
#include <limits>

namespace qv::win32::net {

namespace {

bool parse_u64(const std::string& s, std::uint64_t& out) {
  if (s.empty()) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (v > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

std::uint64_t content_length(const http_response& response) {
  std::uint64_t v = 0;
  return parse_u64(response.headers.find("Content-Length"), v) ? v : 0;
}

// The first position of "bytes 100-199/200": the number between the first space and the "-".
bool content_range_start(const http_response& response, std::uint64_t& start) {
  const std::string value = response.headers.find("Content-Range");
  const std::size_t space = value.find(' ');
  const std::size_t dash = value.find('-');
  if (space == std::string::npos || dash == std::string::npos || dash < space) return false;
  return parse_u64(value.substr(space + 1, dash - space - 1), start);
}

}  // namespace

std::string http_date_text(std::int64_t t) {
  static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::int64_t days = t / 86400;
  std::int64_t secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  const int weekday = static_cast<int>(((days % 7) + 7) % 7);  // 1970-01-01 was a Thursday
  // Civil date from a day count (proleptic Gregorian calendar).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const long long year = static_cast<long long>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", kDays[weekday], day,
                kMonths[month - 1], year, static_cast<int>(secs / 3600),
                static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return text;
}

asyn_http_file::asyn_http_file(asyn_http_file_event* owner)
    : owner_(owner), alive_(std::make_shared<bool>(true)), http_(this) {}

asyn_http_file::~asyn_http_file() {
  *alive_ = false;
  http_.close();
}

bool asyn_http_file::request_file(std::int32_t request_id, const std::string& url,
                                  const http_header_list& extra_headers,
                                  const std::wstring& path) {
  if (path.empty() || url.empty() || is_requesting()) return false;
  http_header_list headers = extra_headers;
  std::int64_t modified = 0;
  if (os::file_modified_time(path, modified))
    headers.set("If-Modified-Since", http_date_text(modified));
  // The state is in place first: the client may report a failure before it returns.
  request_id_ = request_id;
  url_ = url;
  path_ = path;
  tmp_path_ = path + L".tmp";
  received_ = total_size_ = range_start_ = 0;
  file_.reset();
  const auto alive = alive_;
  const bool ok = http_.request(request_id, url, headers);
  if (!*alive) return ok;
  if (!ok) {
    request_id_ = 0;
    url_.clear();
    path_.clear();
    tmp_path_.clear();
  }
  return ok;
}

void asyn_http_file::close() {
  http_.close();
  request_id_ = 0;
  url_.clear();
  path_.clear();
  tmp_path_.clear();
  received_ = total_size_ = range_start_ = 0;
  file_.reset();
}

void asyn_http_file::end_ready(std::int32_t code) {
  const std::int32_t id = request_id_;
  const std::string url = url_;
  const std::wstring path = path_;
  // For a failed request the file that stands is the old one: its size, not the transfer's.
  const std::uint64_t size = code == 2 ? os::file_size(path) : total_size_ + range_start_;
  close();
  owner_->on_file_ready(id, url, size, path, code);
}

void asyn_http_file::end_error(std::int32_t code) {
  const std::int32_t id = request_id_;
  const std::string url = url_;
  close();
  owner_->on_file_error(id, url, code);
}

void asyn_http_file::on_data(std::int32_t, const http_response& response, const char* data,
                             std::uint32_t length, std::uint64_t, bool& keep) {
  keep = false;  // the body goes to the file, never into memory
  if (!is_requesting()) return;
  const std::int32_t status = response.status_code;
  if ((status != 200 && status != 206) || length == 0) return;
  if (status == 206) {
    // A partial answer that does not say where it starts cannot be placed in the file.
    if (!content_range_start(response, range_start_)) {
      end_error(status);
      return;
    }
  }
  total_size_ = range_start_ + content_length(response);
  received_ += length;
  std::uint32_t error = 0;
  if (!file_) {
    file_ = os::download_file::open(tmp_path_, error);
    if (file_) error = file_->seek(range_start_);
  }
  if (file_ && error == 0) error = file_->write(data, length);
  if (!file_ || error != 0) {
    end_error(static_cast<std::int32_t>(error));
    return;
  }
  owner_->on_file_progress(request_id_, range_start_, received_, total_size_);
}

void asyn_http_file::on_response(std::int32_t, const http_response& response) {
  if (!is_requesting()) return;
  const std::int32_t status = response.status_code;
  if (status == 200 || status == 206) {
    total_size_ = content_length(response);
    if (received_ != 0) {
      // Cut what an earlier, longer attempt left behind the new end, so no stale bytes follow.
      std::uint32_t error = file_ ? file_->truncate(range_start_ + received_) : 0;
      if (error == 0 && file_) error = file_->close();
      file_.reset();
      if (error == 0) error = os::replace_file(tmp_path_, path_);
      if (error != 0) {
        end_error(static_cast<std::int32_t>(error));
        return;
      }
    } else {
      const std::uint32_t error = os::create_empty_file(path_);
      if (error != 0) {
        end_error(static_cast<std::int32_t>(error));
        return;
      }
    }
    end_ready(0);
  } else if (status == 304) {
    total_size_ = content_length(response);
    end_ready(1);
  } else {
    end_error(status);
  }
}

void asyn_http_file::on_error(std::int32_t, std::int32_t error_code) {
  if (!is_requesting()) return;
  if (os::is_existing_file(path_))
    end_ready(2);
  else
    end_error(error_code);
}

}  // namespace qv::win32::net
