// The framed protocol spoken with the on-device agent over the forwarded loopback ports.
//
// Frame: code u16, body length u32 (header not counted), body. Requests from the PC are
// little-endian; replies and notifications from the agent are big-endian. Decoded messages come
// out as argument lists of agent_value, in the order the Lua callbacks receive them.
#pragma once

#include "device/agent_value.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace device {

// Loopback ports by port kind.
constexpr std::uint16_t kCommandPort = 12157;  // kind 0: one connection per request
constexpr std::uint16_t kPortKind1 = 12158;
constexpr std::uint16_t kPortKind2 = 12159;
constexpr std::uint16_t kEventPort = 12156;    // kind 3: notifications pushed by the agent
// The port of a kind, 0 for an unknown kind.
std::uint32_t forward_port(std::int64_t kind);

constexpr std::uint16_t kSubscribeCode = 8;
// First argument of request callbacks.
constexpr int kReplyArgument = 5;
constexpr int kSocketErrorArgument = 6;
// Second argument of the event listener when the event channel fails.
constexpr int kEventChannelError = 2;

// Reply codes of the command channel. What each request means belongs to the Lua user
// interface; here a code is named by what its reply carries.
namespace reply_code {
// Batches of records (a status byte first; status 2 ends the reply).
constexpr std::uint16_t kMusicList = 4;          // ID, Zhuanji, Singer, Path, Timer, Size, IsRing
constexpr std::uint16_t kTimedFileList = 5;      // ID, FilePath, Timer, Size
constexpr std::uint16_t kNumberedFileList = 6;   // ID, FilePath, Size
constexpr std::uint16_t kLocatedFileList = 7;    // FilePath, Size, Location
constexpr std::uint16_t kAppList = 13;           // installed apps, each with a trailing time
constexpr std::uint16_t kContactList = 14;       // ID, Name, Number
constexpr std::uint16_t kTypedFileList = 16;     // FilePath, Type (u16), Size
constexpr std::uint16_t kMessageList = 47;       // text messages
constexpr std::uint16_t kSendResultList = 50;    // Number (and the message), each with Success
constexpr std::uint16_t kPathLists[] = {99, 108, 109, 110, 113};  // FilePath, Type (u8)
constexpr std::uint16_t kFolderFileList = 111;   // Type, FileDir, FilePath; the end has a total
// Single frames.
constexpr std::uint16_t kDeviceNumber = 38;      // one u32, given with the device id
constexpr std::uint16_t kDeviceInfo = 40;        // counts, sizes and two strings
constexpr std::uint16_t kResults[] = {69, 71, 73, 76, 78};  // one u8 result
constexpr std::uint16_t kDecimalText = 114;      // a string holding a decimal number
// Progress (status 0 or 1 per item, 2 at the end).
constexpr std::uint16_t kThreeStringProgress = 53;
constexpr std::uint16_t kStringProgress[] = {54, 57};
constexpr std::uint16_t kStringNumberProgress[] = {80, 82, 84};
}  // namespace reply_code

// Notification codes of the event channel, named by what they carry.
namespace notification_code {
constexpr std::uint16_t kNumbersAndFourStrings = 18;  // N1, N2, S1..S4
constexpr std::uint16_t kText = 19;                   // S
constexpr std::uint16_t kMessages[] = {48, 50};       // flag, S1..S3, N1..N4
constexpr std::uint16_t kFlaggedEntry = 105;          // flag, N1, N2, S, N3, N4
constexpr std::uint16_t kFlaggedShortEntry = 106;     // flag, N1, S, N2, N3
constexpr std::uint16_t kFlaggedFullEntry = 107;      // flag, N1, N2, S1..S3, N3, N4, N5
}  // namespace notification_code

// A declared body longer than this ends the connection as an error instead of being buffered.
constexpr std::uint32_t kMaxFrameBody = 64u * 1024u * 1024u;

// One request argument as the Lua code passes it.
struct request_argument {
  enum class kind { boolean, number, string, other };
  kind type = kind::other;
  bool boolean = false;
  double number = 0;
  std::string text;

  static request_argument make_boolean(bool v);
  static request_argument make_number(double v);
  static request_argument make_string(std::string v);
  static request_argument make_other();
};

// The request frame: the low 16 bits of code; booleans as u32 0/1, whole numbers as the low 32
// bits of their 64-bit value, strings up to their first NUL; fractional numbers and other
// values are left out.
std::vector<std::uint8_t> build_request_frame(std::int64_t code, const std::vector<request_argument>& args);
// Code 8 with an empty body: subscribes to notifications on the event channel.
std::vector<std::uint8_t> subscription_frame();

// Cuts complete frames out of a receive buffer across notifications.
class frame_extractor {
 public:
  enum class result {
    ok,         // every complete frame was handed on; a partial frame may remain
    stopped,    // the sink asked to stop (its owner may be gone): touch nothing more
    oversized,  // a frame declares a body above kMaxFrameBody: the connection must end
  };
  // Returns false to stop at once.
  using frame_sink = std::function<bool(std::uint16_t code, const std::uint8_t* body, std::uint32_t size)>;

  // consumed: the leading bytes of data taken by complete frames (set before each sink call,
  // so it is right even when the sink stops).
  result extract(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed, const frame_sink& sink);
  void reset();
  bool header_expected() const { return header_expected_; }
  std::uint32_t body_length() const { return body_length_; }

 private:
  bool header_expected_ = true;
  std::uint32_t body_length_ = 0;
};

enum class reply_kind { batch, single, progress, unlisted };
reply_kind reply_kind_of(std::uint16_t code);

struct decoded_reply {
  bool listed = true;   // false for a code the protocol does not know
  bool deliver = false; // call the request's callback with args
  bool final = false;   // the request is finished after this frame
  agent_values args;    // the callback's arguments
};
// A reply frame on the command channel. device_id (UTF-8) is the first argument after the 5 in
// the replies that carry it.
decoded_reply decode_reply(std::uint16_t code, const std::uint8_t* body, std::uint32_t size,
                           const std::string& device_id);
// The callback's arguments when a request's connection fails.
agent_values socket_error_arguments(const std::string& device_id);

// A notification on the event channel: the listener's arguments (device_id, code, ...), or false
// for a code that is not a notification.
bool decode_notification(std::uint16_t code, const std::uint8_t* body, std::uint32_t size,
                         const std::string& device_id, agent_values& args);
// The listener's arguments when the event channel fails.
agent_values event_channel_error_arguments(const std::string& device_id);

// The decimal number at the start of text (optional sign, then digits; 0 when there are none),
// held within the 32-bit range.
std::int64_t leading_decimal(const std::string& text);

}  // namespace device
