#include "device/agent_protocol.h"

#include "device/command_bytes_stream.h"

#include <cmath>
#include <cstddef>

namespace device {
namespace {

using namespace reply_code;
using namespace notification_code;

// The status byte of batch and progress replies that ends the reply (an empty body reads as it).
constexpr std::uint8_t kEndOfReply = 2;

template <std::size_t N>
bool one_of(std::uint16_t code, const std::uint16_t (&codes)[N]) {
  for (std::uint16_t c : codes)
    if (c == code) return true;
  return false;
}

// Field types of list records and notification bodies.
enum class field { u8, u16, u32, size64, string };

struct record_field {
  const char* key;
  field type;
};

using record_layout = std::vector<record_field>;

const record_layout& layout_of(std::uint16_t code) {
  static const record_layout music{{"ID", field::u32},   {"Zhuanji", field::string}, {"Singer", field::string},
                                   {"Path", field::string}, {"Timer", field::u32},   {"Size", field::size64},
                                   {"IsRing", field::u16}};
  static const record_layout timed_files{{"ID", field::u32}, {"FilePath", field::string}, {"Timer", field::u32},
                                   {"Size", field::size64}};
  static const record_layout numbered_files{{"ID", field::u32}, {"FilePath", field::string}, {"Size", field::size64}};
  static const record_layout located_files{{"FilePath", field::string}, {"Size", field::size64}, {"Location", field::u16}};
  static const record_layout apps{{"Size", field::u32},      {"Location", field::u16}, {"Name", field::string},
                                  {"packName", field::string}, {"ver", field::string}, {"verCode", field::string}};
  static const record_layout contacts{{"ID", field::string}, {"Name", field::string}, {"Number", field::string}};
  static const record_layout typed_files{{"FilePath", field::string}, {"Type", field::u16}, {"Size", field::size64}};
  static const record_layout messages{{"Number", field::string}, {"Content", field::string}, {"Date", field::string},
                                      {"Type", field::u16},      {"ID", field::u32},         {"ThreadID", field::u32},
                                      {"Read", field::u16}};
  static const record_layout paths{{"FilePath", field::string}, {"Type", field::u8}};
  static const record_layout folder_files{{"Type", field::u8}, {"FileDir", field::string}, {"FilePath", field::string}};
  static const record_layout none;
  switch (code) {
    case kMusicList: return music;
    case kTimedFileList: return timed_files;
    case kNumberedFileList: return numbered_files;
    case kLocatedFileList: return located_files;
    case kAppList: return apps;  // followed by the u64 "time", read as a signed number
    case kContactList: return contacts;
    case kTypedFileList: return typed_files;
    case kMessageList: return messages;
    case kFolderFileList: return folder_files;
    default: return one_of(code, kPathLists) ? paths : none;
  }
}

// Sizes of files go to Lua whole (a Lua number is exact far beyond any file size), not cut to
// 32 bits, which would report a 5 GiB video as 1 GiB.
agent_value size_value(std::uint64_t v) { return agent_value::make_number(static_cast<double>(v)); }
// The other 64-bit fields: the value read as a signed 64-bit integer.
agent_value signed_value(std::uint64_t v) {
  return agent_value::make_number(static_cast<double>(static_cast<std::int64_t>(v)));
}
agent_value int_value(std::int64_t v) { return agent_value::make_integer(v); }
agent_value str_value(std::string s) { return agent_value::make_string(std::move(s)); }

bool fits(const CommandBytesStream& in, field type) {
  switch (type) {
    case field::u8: return in.can_read(1);
    case field::u16: return in.can_read(2);
    case field::u32: return in.can_read(4);
    case field::size64: return in.can_read(8);
    case field::string: return in.can_read_string();
  }
  return false;
}

agent_value read_field(CommandBytesStream& in, field type) {
  switch (type) {
    case field::u8: return int_value(in.read_u8());
    case field::u16: return int_value(in.read_u16());
    case field::u32: return int_value(in.read_u32());
    case field::size64: return size_value(in.read_u64());
    case field::string: return str_value(in.read_string());
  }
  return agent_value();
}

// Reads fields of a layout into record; false (record incomplete) as soon as one does not fit.
bool read_fields(CommandBytesStream& in, const record_layout& layout, agent_value& record) {
  for (const auto& f : layout) {
    if (!fits(in, f.type)) return false;
    record.add(f.key, read_field(in, f.type));
  }
  return true;
}

// Records packed back to back until the body is exhausted; an incomplete record ends the list.
agent_value read_records(std::uint16_t code, std::uint8_t status, CommandBytesStream& in) {
  agent_value list = agent_value::make_array();
  const record_layout& layout = layout_of(code);
  static const record_layout number_only{{"Number", field::string}};
  static const record_layout message_rest{{"Content", field::string}, {"Date", field::string},
                                          {"Type", field::u16},       {"ID", field::u32},
                                          {"ThreadID", field::u32},   {"Read", field::u16}};
  while (in.room() > 0) {
    agent_value record = agent_value::make_record();
    bool complete;
    if (code == kSendResultList) {
      complete = read_fields(in, number_only, record) && (status != 1 || read_fields(in, message_rest, record));
      record.add("Success", int_value(status));
    } else {
      complete = read_fields(in, layout, record);
      if (complete && code == kAppList) {
        complete = in.can_read(8);
        record.add("time", signed_value(in.read_u64()));
      }
    }
    if (!complete) break;
    list.items.push_back(std::move(record));
  }
  return list;
}

agent_value reply_marker() { return int_value(kReplyArgument); }

void decode_batch(std::uint16_t code, CommandBytesStream& in, const std::string& device_id, decoded_reply& out) {
  const std::uint8_t status = in.room() == 0 ? kEndOfReply : in.read_u8();
  out.deliver = true;
  out.args.push_back(reply_marker());
  if (code == kAppList) out.args.push_back(str_value(device_id));
  out.args.push_back(int_value(status));
  if (status == kEndOfReply) {
    out.final = true;
    if (code == kFolderFileList) out.args.push_back(signed_value(in.read_u64()));
    return;
  }
  out.args.push_back(read_records(code, status, in));
}

void decode_single(std::uint16_t code, CommandBytesStream& in, const std::string& device_id, decoded_reply& out) {
  out.deliver = true;
  out.final = true;
  out.args.push_back(reply_marker());
  switch (code) {
    case kDeviceNumber:
      out.args.push_back(str_value(device_id));
      out.args.push_back(int_value(in.read_u32()));
      break;
    case kDeviceInfo: {
      const std::uint32_t a = in.read_u32(), b = in.read_u32(), c = in.read_u32();
      const std::uint64_t d = in.read_u64(), e = in.read_u64(), f = in.read_u64(), g = in.read_u64();
      std::string s1 = in.read_string();
      std::string s2 = in.read_string();
      const std::uint32_t h = in.read_u32(), i = in.read_u32(), j = in.read_u32(), k = in.read_u32();
      out.args.push_back(str_value(device_id));
      for (std::uint32_t v : {i, c, a, b, k, h, j}) out.args.push_back(int_value(v));
      for (std::uint64_t v : {e, g, d, f}) out.args.push_back(signed_value(v));
      out.args.push_back(str_value(std::move(s2)));
      out.args.push_back(str_value(std::move(s1)));
      break;
    }
    case kDecimalText:
      out.args.push_back(int_value(leading_decimal(in.read_string())));
      break;
    default:  // kResults
      out.args.push_back(int_value(in.read_u8()));
      break;
  }
}

void decode_progress(std::uint16_t code, CommandBytesStream& in, decoded_reply& out) {
  const std::uint8_t status = in.room() == 0 ? kEndOfReply : in.read_u8();
  if (status == kEndOfReply) {
    out.deliver = true;
    out.final = true;
    out.args = {reply_marker(), int_value(kEndOfReply)};
    return;
  }
  if (status > 1) return;  // neither an item (0 or 1) nor the end: ignored, the request goes on
  out.deliver = true;
  out.args = {reply_marker(), int_value(status)};
  if (code == kThreeStringProgress) {
    for (int n = 0; n < 3; ++n) out.args.push_back(str_value(in.read_string()));
  } else if (one_of(code, kStringProgress)) {
    out.args.push_back(str_value(in.read_string()));
  } else {  // kStringNumberProgress
    out.args.push_back(str_value(in.read_string()));
    out.args.push_back(int_value(in.read_u32()));
  }
}

}  // namespace

std::uint32_t forward_port(std::int64_t kind) {
  switch (kind) {
    case 0: return kCommandPort;
    case 1: return kPortKind1;
    case 2: return kPortKind2;
    case 3: return kEventPort;
    default: return 0;
  }
}

request_argument request_argument::make_boolean(bool v) {
  request_argument a;
  a.type = kind::boolean;
  a.boolean = v;
  return a;
}

request_argument request_argument::make_number(double v) {
  request_argument a;
  a.type = kind::number;
  a.number = v;
  return a;
}

request_argument request_argument::make_string(std::string v) {
  request_argument a;
  a.type = kind::string;
  a.text = std::move(v);
  return a;
}

request_argument request_argument::make_other() { return request_argument(); }

std::vector<std::uint8_t> build_request_frame(std::int64_t code, const std::vector<request_argument>& args) {
  CommandBytesStream out(static_cast<std::uint16_t>(static_cast<std::uint64_t>(code) & 0xFFFF));
  for (const auto& a : args) {
    switch (a.type) {
      case request_argument::kind::boolean:
        out.write_u32(a.boolean ? 1 : 0);
        break;
      case request_argument::kind::number: {
        // Whole numbers only: those that survive truncation to a 64-bit integer unchanged
        // (the range check keeps the conversion defined; NaN fails every comparison).
        const double d = a.number;
        if (d >= -9223372036854775808.0 && d < 9223372036854775808.0 && std::trunc(d) == d) {
          out.write_u32(static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(d))));
        }
        break;
      }
      case request_argument::kind::string:
        out.write_string(a.text.substr(0, a.text.find('\0')));
        break;
      case request_argument::kind::other:
        break;
    }
  }
  out.finish();
  return std::vector<std::uint8_t>(out.data(), out.data() + out.length());
}

std::vector<std::uint8_t> subscription_frame() {
  CommandBytesStream out(kSubscribeCode);
  out.finish();
  return std::vector<std::uint8_t>(out.data(), out.data() + out.length());
}

frame_extractor::result frame_extractor::extract(const std::uint8_t* data, std::uint32_t size,
                                                 std::uint32_t& consumed, const frame_sink& sink) {
  consumed = 0;
  for (;;) {
    const std::uint32_t remaining = size - consumed;
    const std::uint8_t* p = data + consumed;
    if (header_expected_) {
      if (remaining < CommandBytesStream::kHeaderSize) return result::ok;
      header_expected_ = false;
      body_length_ = (std::uint32_t{p[2]} << 24) | (std::uint32_t{p[3]} << 16) | (std::uint32_t{p[4]} << 8) | p[5];
    }
    if (body_length_ > kMaxFrameBody) return result::oversized;
    if (remaining - CommandBytesStream::kHeaderSize < body_length_) return result::ok;
    const std::uint16_t code = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
    const std::uint32_t body = body_length_;
    consumed += CommandBytesStream::kHeaderSize + body;
    header_expected_ = true;
    body_length_ = 0;
    if (!sink(code, p + CommandBytesStream::kHeaderSize, body)) return result::stopped;
  }
}

void frame_extractor::reset() {
  header_expected_ = true;
  body_length_ = 0;
}

reply_kind reply_kind_of(std::uint16_t code) {
  switch (code) {
    case kMusicList: case kTimedFileList: case kNumberedFileList: case kLocatedFileList:
    case kAppList: case kContactList: case kTypedFileList: case kMessageList:
    case kSendResultList: case kFolderFileList:
      return reply_kind::batch;
    case kDeviceNumber: case kDeviceInfo: case kDecimalText:
      return reply_kind::single;
    case kThreeStringProgress:
      return reply_kind::progress;
    default:
      break;
  }
  if (one_of(code, kPathLists)) return reply_kind::batch;
  if (one_of(code, kResults)) return reply_kind::single;
  if (one_of(code, kStringProgress) || one_of(code, kStringNumberProgress))
    return reply_kind::progress;
  return reply_kind::unlisted;
}

decoded_reply decode_reply(std::uint16_t code, const std::uint8_t* body, std::uint32_t size,
                           const std::string& device_id) {
  decoded_reply out;
  CommandBytesStream in(body, size);
  switch (reply_kind_of(code)) {
    case reply_kind::batch: decode_batch(code, in, device_id, out); break;
    case reply_kind::single: decode_single(code, in, device_id, out); break;
    case reply_kind::progress: decode_progress(code, in, out); break;
    case reply_kind::unlisted: out.listed = false; break;
  }
  return out;
}

agent_values socket_error_arguments(const std::string& device_id) {
  return {int_value(kSocketErrorArgument), str_value(device_id)};
}

bool decode_notification(std::uint16_t code, const std::uint8_t* body, std::uint32_t size,
                         const std::string& device_id, agent_values& args) {
  CommandBytesStream in(body, size);
  args.clear();
  args.push_back(str_value(device_id));
  args.push_back(int_value(code));
  switch (code) {
    case kNumbersAndFourStrings: {
      const std::uint32_t n1 = in.read_u32();
      const std::uint16_t n2 = in.read_u16();
      args.push_back(int_value(n1));
      args.push_back(int_value(n2));
      for (int i = 0; i < 4; ++i) args.push_back(str_value(in.read_string()));
      in.read_u64();  // trailing bytes without meaning here
      return true;
    }
    case kText:
      args.push_back(str_value(in.read_string()));
      return true;
    case kMessages[0]:
    case kMessages[1]: {
      const std::uint8_t flag = size == 0 ? 1 : in.read_u8();
      std::string s1 = in.read_string(), s2, s3;
      std::uint16_t n1 = 0, n4 = 0;
      std::uint32_t n2 = 0, n3 = 0;
      if (flag == 1 || flag == 2) {
        s2 = in.read_string();
        s3 = in.read_string();
        n1 = in.read_u16();
        n2 = in.read_u32();
        n3 = in.read_u32();
        n4 = in.read_u16();
      }
      args.push_back(int_value(flag));
      args.push_back(str_value(std::move(s1)));
      args.push_back(str_value(std::move(s2)));
      args.push_back(str_value(std::move(s3)));
      for (std::int64_t v : {std::int64_t{n1}, std::int64_t{n2}, std::int64_t{n3}, std::int64_t{n4}}) {
        args.push_back(int_value(v));
      }
      return true;
    }
    case kFlaggedEntry: {
      const std::uint8_t flag = in.read_u8();
      std::uint32_t n1 = 0, n2 = 1, n3 = 0;
      std::uint64_t n4 = 0;
      std::string s;
      if (flag == 1) {
        n1 = in.read_u32();
        n2 = in.read_u32();
        s = in.read_string();
        n3 = in.read_u32();
        n4 = in.read_u64();
      } else if (flag == 0) {
        s = in.read_string();
      }
      args.push_back(int_value(flag));
      args.push_back(int_value(n1));
      args.push_back(int_value(n2));
      args.push_back(str_value(std::move(s)));
      args.push_back(int_value(n3));
      args.push_back(signed_value(n4));
      return true;
    }
    case kFlaggedShortEntry: {
      const std::uint8_t flag = in.read_u8();
      std::uint32_t n1 = 0, n2 = 1;
      std::uint64_t n3 = 0;
      std::string s;
      if (flag == 1) {
        n1 = in.read_u32();
        n2 = in.read_u32();
        s = in.read_string();
        n3 = in.read_u64();
      } else if (flag == 0) {
        s = in.read_string();
      }
      args.push_back(int_value(flag));
      args.push_back(int_value(n1));
      args.push_back(str_value(std::move(s)));
      args.push_back(int_value(n2));
      args.push_back(signed_value(n3));
      return true;
    }
    case kFlaggedFullEntry: {
      const std::uint8_t flag = size == 0 ? 1 : in.read_u8();
      std::uint32_t n1 = 0, n2 = 0, n3 = 0;
      std::uint64_t n4 = 0;
      std::uint16_t n5 = 0;
      std::string s1, s2, s3;
      if (flag == 1) {
        n1 = in.read_u32();
        n2 = in.read_u32();
        s1 = in.read_string();
        s2 = in.read_string();
        s3 = in.read_string();
        n3 = in.read_u32();
        n4 = in.read_u64();
        n5 = in.read_u16();
      } else if (flag == 0) {
        s3 = in.read_string();
      }
      args.push_back(int_value(flag));
      args.push_back(int_value(n1));
      args.push_back(int_value(n2));
      args.push_back(str_value(std::move(s1)));
      args.push_back(str_value(std::move(s2)));
      args.push_back(str_value(std::move(s3)));
      args.push_back(int_value(n3));
      args.push_back(signed_value(n4));
      args.push_back(int_value(n5));
      return true;
    }
    default:
      args.clear();
      return false;
  }
}

agent_values event_channel_error_arguments(const std::string& device_id) {
  return {str_value(device_id), int_value(kEventChannelError)};
}

std::int64_t leading_decimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = 2147483648LL;  // held within the 32-bit range
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return -value;
  return value > kLimit - 1 ? kLimit - 1 : value;
}

}  // namespace device
