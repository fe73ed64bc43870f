// The byte-stream builder and reader of agent frames.
//
// Writing (PC to agent) is little-endian: a 6-byte header (code u16, body length u32) followed by
// the fields. Reading (agent to PC) is big-endian over a body that the stream only borrows. A read
// whose field does not fit in the unread bytes consumes nothing and yields the field's default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device {

class CommandBytesStream {
 public:
  static constexpr std::uint32_t kHeaderSize = 6;

  // A request frame under construction: the code and a length placeholder of 0.
  explicit CommandBytesStream(std::uint16_t code);
  // Reads a borrowed body; the bytes must outlive the stream.
  CommandBytesStream(const std::uint8_t* data, std::uint32_t size);
  virtual ~CommandBytesStream();
  CommandBytesStream(const CommandBytesStream&) = delete;
  CommandBytesStream& operator=(const CommandBytesStream&) = delete;

  void write_u16(std::uint16_t value);
  void write_u32(std::uint32_t value);
  // A u32 byte count, then the bytes.
  void write_string(const std::string& bytes);
  // Stores the body length (everything after the header) in the header.
  void finish();

  // Reading; big-endian.
  std::uint8_t read_u8();
  std::uint16_t read_u16();
  std::uint32_t read_u32();
  std::uint64_t read_u64();
  // Empty when even the count does not fit (nothing consumed); when the count fits but the
  // bytes do not, the count is consumed and the string stays empty.
  std::string read_string();
  // Whether a field of this many bytes (or a whole string) can still be read.
  bool can_read(std::uint32_t bytes) const { return room() >= bytes; }
  bool can_read_string() const;

  bool owns_buffer() const { return owned_; }
  const std::uint8_t* data() const { return owned_ ? buffer_.data() : borrowed_; }
  // Bytes written so far (writing), header included.
  std::uint32_t length() const { return static_cast<std::uint32_t>(buffer_.size()); }
  // Unread bytes (reading).
  std::uint32_t room() const { return size_ - read_count_; }
  std::uint32_t read_count() const { return read_count_; }

 private:
  std::uint64_t read_be(std::uint32_t bytes);
  void append_le(std::uint64_t value, std::uint32_t bytes);

  bool owned_;
  std::vector<std::uint8_t> buffer_;  // the frame being written
  const std::uint8_t* borrowed_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t read_count_ = 0;
};

}  // namespace device
