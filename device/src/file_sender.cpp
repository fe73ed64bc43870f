#include "device/file_transfer.h"

#include "qv/text.h"
#include "x_os.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace device {
namespace {

constexpr unsigned kLingerSeconds = 3600;

std::wstring file_name(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

void put_u16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void put_u32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

file_sender::file_sender(std::uint16_t port) : port_(port), current_socket_(os::kInvalidSocket) {}

file_sender::~file_sender() { shutdown(); }

std::uint32_t file_sender::send(std::uint16_t code, std::string device_dir, std::string local_path,
                                transfer_callback callback) {
  if (code == transfer_code::kSendCommonFile && (device_dir.empty() || device_dir.back() != '/')) device_dir += '/';
  return add_task(code, std::move(device_dir), std::move(local_path), std::move(callback));
}

bool file_sender::test_connect() const {
  const os::socket_handle s = os::tcp_socket();
  if (s == os::kInvalidSocket) return false;
  const bool ok = os::connect_loopback(s, port_);
  os::set_linger(s, 0);
  os::close_socket(s);
  return ok;
}

std::string file_sender::device_path(const std::wstring& device_dir, const std::wstring& source, bool folder_mode,
                                     const std::wstring& file) {
  std::wstring tail;
  if (folder_mode) {
    tail = transfer_lower(file);
    for (auto& c : tail) {
      if (c == L'\\') c = L'/';
    }
  } else {
    tail = file_name(source);
  }
  return qv::text::wide_to_utf8(device_dir + tail);
}

void file_sender::abort_running() {
  std::lock_guard<std::mutex> guard(socket_lock_);
  if (current_socket_ != os::kInvalidSocket) os::abort_socket(current_socket_);
}

std::int32_t file_sender::run_job(const job& j) {
  bool folder_mode = false;
  std::vector<std::wstring> files;
  if (!start_job(j, folder_mode, files)) return transfer_status::kOpenSource;
  if (!buffer_) buffer_.reset(new char[kSendChunk]);
  for (const auto& f : files) {
    const std::wstring local = local_file(j.source, folder_mode, f);
    std::uint64_t size = 0;
    if (!os::file_size(local, size)) return transfer_status::kOpenSource;
    const std::int32_t status = send_one(j, local, device_path(j.dir, j.source, folder_mode, f), size, *j.record);
    if (status != transfer_status::kFinished) return status;
  }
  return transfer_status::kFinished;
}

std::int32_t file_sender::send_one(const job& j, const std::wstring& local, const std::string& device_path,
                                   std::uint64_t size, progress& record) {
  const os::socket_handle s = os::tcp_socket();
  if (s == os::kInvalidSocket) return transfer_status::kCreateSocket;
  // Closed on every way out; a connection that did not end normally is reset rather than
  // lingered on, so that a cancel or failure never keeps the worker waiting.
  struct connection {
    file_sender* owner;
    os::socket_handle s;
    bool clean = false;
    ~connection() {
      {
        std::lock_guard<std::mutex> guard(owner->socket_lock_);
        owner->current_socket_ = os::kInvalidSocket;
      }
      if (!clean) os::set_linger(s, 0);
      os::close_socket(s);
    }
  } conn{this, s};
  os::set_linger(s, kLingerSeconds);
  if (!os::connect_loopback(s, port_)) return transfer_status::kConnect;
  {
    std::lock_guard<std::mutex> guard(socket_lock_);
    current_socket_ = s;
  }
  // A cancel that came before the socket was known here is seen now.
  if (cancel_requested()) return transfer_status::kCancelled;
  {
    std::lock_guard<std::mutex> guard(record.lock);
    record.current_file = local;
  }
  os::file in;
  if (!in.open_read(local)) return transfer_status::kOpenSource;
  // The header's length counts the path string and the contents; the agent reads exactly
  // that many bytes, so a file larger than the field can hold cannot be sent.
  const std::uint64_t length = 4 + device_path.size() + size;
  if (length > 0xFFFFFFFFu) return transfer_status::kOpenSource;
  std::string header;
  put_u16(header, j.type);
  put_u32(header, static_cast<std::uint32_t>(length));
  put_u32(header, static_cast<std::uint32_t>(device_path.size()));
  header += device_path;
  if (!os::send_all(s, header.data(), header.size()))
    return cancel_requested() ? transfer_status::kCancelled : transfer_status::kWrite;
  std::uint64_t sent = 0;
  while (sent < size) {
    if (cancel_requested()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return transfer_status::kCancelled;
    }
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kSendChunk, size - sent));
    const std::int64_t got = in.read(buffer_.get(), want);
    // The header promised size bytes: a file that fails or shrinks under us cannot keep it.
    if (got <= 0) return transfer_status::kOpenSource;
    if (!os::send_all(s, buffer_.get(), static_cast<std::size_t>(got)))
      return cancel_requested() ? transfer_status::kCancelled : transfer_status::kWrite;
    sent += static_cast<std::uint64_t>(got);
    {
      std::lock_guard<std::mutex> guard(record.lock);
      record.done += static_cast<std::uint64_t>(got);
      record.status = transfer_status::kProgress;
    }
    post_progress(j);
  }
  // The agent answers one byte once it has everything; without it the file may be incomplete.
  if (!os::receive_byte(s)) return cancel_requested() ? transfer_status::kCancelled : transfer_status::kWrite;
  conn.clean = true;
  return transfer_status::kFinished;
}

}  // namespace device
