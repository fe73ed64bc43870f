// The frame builder's byte layout and the reader's defaults for fields that do not fit.
#include <gtest/gtest.h>

#include "device/command_bytes_stream.h"

#include "agent_test_bytes.h"

using device::CommandBytesStream;
using device_test::be;
using bytes = std::vector<std::uint8_t>;

TEST(CommandBytesStream, WritesALittleEndianFrameWithItsBodyLength) {
  CommandBytesStream out(0x1234);
  EXPECT_EQ(6u, out.length());
  out.write_u16(0xBEEF);
  out.write_u32(0x01020304);
  out.write_string("ab");
  out.write_string("");
  out.finish();
  EXPECT_TRUE(out.owns_buffer());
  const bytes expected{0x34, 0x12, 16, 0, 0, 0,  // code, body length 16
                       0xEF, 0xBE, 0x04, 0x03, 0x02, 0x01, 2, 0, 0, 0, 'a', 'b', 0, 0, 0, 0};
  // The last four bytes are the empty string's count; everything is little-endian.
  EXPECT_EQ(expected, bytes(out.data(), out.data() + out.length()));
}

TEST(CommandBytesStream, ReadsBigEndianFieldsOfABorrowedBody) {
  be body;
  body.u8(7).u16(0x0102).u32(0xA0B0C0D0).u64(0x0102030405060708ULL).str("hé");
  CommandBytesStream in(body.bytes.data(), static_cast<std::uint32_t>(body.bytes.size()));
  EXPECT_FALSE(in.owns_buffer());
  EXPECT_EQ(7, in.read_u8());
  EXPECT_EQ(0x0102, in.read_u16());
  EXPECT_EQ(0xA0B0C0D0u, in.read_u32());
  EXPECT_EQ(0x0102030405060708ULL, in.read_u64());
  EXPECT_EQ("hé", in.read_string());
  EXPECT_EQ(0u, in.room());
  EXPECT_EQ(body.bytes.size(), in.read_count());
}

TEST(CommandBytesStream, ShortFieldsYieldDefaultsAndConsumeNothing) {
  const bytes three{0xAA, 0xBB, 0xCC};
  CommandBytesStream in(three.data(), 3);
  EXPECT_EQ(0u, in.read_u32());
  EXPECT_EQ(0u, in.read_u64());
  EXPECT_EQ("", in.read_string());
  EXPECT_EQ(3u, in.room()) << "nothing consumed";
  EXPECT_EQ(0xAABB, in.read_u16());
  EXPECT_EQ(0, in.read_u16());
  EXPECT_EQ(0xCC, in.read_u8());
  EXPECT_EQ(0, in.read_u8());
}

TEST(CommandBytesStream, AStringWhoseBytesAreMissingConsumesOnlyItsCount) {
  be body;
  body.u32(5).u8('x').u8('y');  // count 5, two bytes present
  CommandBytesStream in(body.bytes.data(), static_cast<std::uint32_t>(body.bytes.size()));
  EXPECT_FALSE(in.can_read_string());
  EXPECT_EQ("", in.read_string());
  EXPECT_EQ(4u, in.read_count());
  EXPECT_EQ('x', in.read_u8());
}

TEST(CommandBytesStream, ANullBodyReadsAsEmpty) {
  CommandBytesStream in(nullptr, 10);
  EXPECT_EQ(0u, in.room());
  EXPECT_EQ(0u, in.read_u32());
  EXPECT_EQ("", in.read_string());
}
