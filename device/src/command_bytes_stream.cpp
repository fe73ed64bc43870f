#include "device/command_bytes_stream.h"

namespace device {

CommandBytesStream::CommandBytesStream(std::uint16_t code) : owned_(true) {
  buffer_.reserve(64);
  append_le(code, 2);
  append_le(0, 4);
}

CommandBytesStream::CommandBytesStream(const std::uint8_t* data, std::uint32_t size)
    : owned_(false), borrowed_(data), size_(data ? size : 0) {}

CommandBytesStream::~CommandBytesStream() = default;

void CommandBytesStream::append_le(std::uint64_t value, std::uint32_t bytes) {
  for (std::uint32_t i = 0; i < bytes; ++i) buffer_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void CommandBytesStream::write_u16(std::uint16_t value) { append_le(value, 2); }

void CommandBytesStream::write_u32(std::uint32_t value) { append_le(value, 4); }

void CommandBytesStream::write_string(const std::string& bytes) {
  append_le(static_cast<std::uint32_t>(bytes.size()), 4);
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void CommandBytesStream::finish() {
  const auto body = static_cast<std::uint32_t>(buffer_.size() - kHeaderSize);
  for (std::uint32_t i = 0; i < 4; ++i) buffer_[2 + i] = static_cast<std::uint8_t>(body >> (8 * i));
}

std::uint64_t CommandBytesStream::read_be(std::uint32_t bytes) {
  if (room() < bytes) return 0;
  const std::uint8_t* p = borrowed_ + read_count_;
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  read_count_ += bytes;
  return v;
}

std::uint8_t CommandBytesStream::read_u8() { return static_cast<std::uint8_t>(read_be(1)); }
std::uint16_t CommandBytesStream::read_u16() { return static_cast<std::uint16_t>(read_be(2)); }
std::uint32_t CommandBytesStream::read_u32() { return static_cast<std::uint32_t>(read_be(4)); }
std::uint64_t CommandBytesStream::read_u64() { return read_be(8); }

bool CommandBytesStream::can_read_string() const {
  if (room() < 4) return false;
  const std::uint8_t* p = borrowed_ + read_count_;
  const std::uint32_t count = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                              (std::uint32_t{p[2]} << 8) | p[3];
  return room() - 4 >= count;
}

std::string CommandBytesStream::read_string() {
  if (room() < 4) return std::string();
  const std::uint32_t count = read_u32();
  if (room() < count) return std::string();
  std::string s(reinterpret_cast<const char*>(borrowed_ + read_count_), count);
  read_count_ += count;
  return s;
}

}  // namespace device
