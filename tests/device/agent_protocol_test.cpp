// The agent protocol: request framing, frame extraction across receives, and the decoding of
// every reply and notification code into the argument lists the Lua callbacks receive.
#include <gtest/gtest.h>

#include "device/agent_protocol.h"

#include "agent_test_bytes.h"

#include <cmath>
#include <limits>

using namespace device;
using device_test::be;
using bytes = std::vector<std::uint8_t>;

namespace {

std::string render(const agent_values& args) {
  agent_value list = agent_value::make_array();
  list.items = args;
  return list.debug_string();
}

const std::string kDevice = "dev-1";

}  // namespace

// ---- requests -------------------------------------------------------------------------------

struct request_case {
  const char* name;
  std::int64_t code;
  std::vector<request_argument> args;
  bytes expected;
};

class RequestFrame : public ::testing::TestWithParam<request_case> {};

TEST_P(RequestFrame, IsLittleEndianWithTheArgumentsThatTravel) {
  EXPECT_EQ(GetParam().expected, build_request_frame(GetParam().code, GetParam().args));
}

using ra = request_argument;
const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestFrame,
    ::testing::Values(
        request_case{"NoArguments", 14, {}, {14, 0, 0, 0, 0, 0}},
        request_case{"Booleans", 3, {ra::make_boolean(true), ra::make_boolean(false)},
                     {3, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        request_case{"WholeNumberIsSentFractionalIsSkipped", 5,
                     {ra::make_number(3.0), ra::make_number(3.5), ra::make_number(258)},
                     {5, 0, 8, 0, 0, 0, 3, 0, 0, 0, 2, 1, 0, 0}},
        request_case{"NegativeAndLargeNumbersTravelAsTheirLow32Bits", 5,
                     {ra::make_number(-1), ra::make_number(4294967296.0 + 5)},
                     {5, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0}},
        request_case{"NumbersWithoutA64BitValueAreSkipped", 5,
                     {ra::make_number(kNan), ra::make_number(kInf), ra::make_number(-kInf), ra::make_number(1e30)},
                     {5, 0, 0, 0, 0, 0}},
        request_case{"StringStopsAtItsFirstNul", 6, {ra::make_string(std::string("ab\0cd", 5))},
                     {6, 0, 6, 0, 0, 0, 2, 0, 0, 0, 'a', 'b'}},
        request_case{"EmptyStringKeepsItsCount", 6, {ra::make_string("")}, {6, 0, 4, 0, 0, 0, 0, 0, 0, 0}},
        request_case{"OtherValuesAreSkipped", 7, {ra::make_other(), ra::make_string("x"), ra::make_other()},
                     {7, 0, 5, 0, 0, 0, 1, 0, 0, 0, 'x'}},
        request_case{"CodeAbove65535TravelsAsItsLow16Bits", 70000, {}, {0x70, 0x11, 0, 0, 0, 0}},
        request_case{"NegativeCode", -1, {}, {0xFF, 0xFF, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<request_case>& info) { return info.param.name; });

TEST(AgentProtocol, SubscriptionFrameIsCode8WithAnEmptyBody) {
  EXPECT_EQ((bytes{8, 0, 0, 0, 0, 0}), subscription_frame());
}

TEST(AgentProtocol, ForwardPortsByKind) {
  const std::vector<std::pair<std::int64_t, std::uint32_t>> cases{{0, 12157}, {1, 12158}, {2, 12159},
                                                                  {3, 12156}, {4, 0},     {-1, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.second, forward_port(c.first)) << "kind " << c.first;
}

// ---- frame extraction -----------------------------------------------------------------------

namespace {

struct seen_frame {
  std::uint16_t code;
  bytes body;
  bool operator==(const seen_frame& o) const { return code == o.code && body == o.body; }
};

// Feeds pieces as the socket would: the unconsumed rest plus each new piece.
struct extraction {
  frame_extractor extractor;
  bytes buffer;
  std::vector<seen_frame> frames;

  frame_extractor::result feed(const bytes& piece) {
    buffer.insert(buffer.end(), piece.begin(), piece.end());
    std::uint32_t consumed = 0;
    auto r = extractor.extract(buffer.data(), static_cast<std::uint32_t>(buffer.size()), consumed,
                               [&](std::uint16_t code, const std::uint8_t* body, std::uint32_t size) {
                                 frames.push_back({code, bytes(body, body + size)});
                                 return true;
                               });
    buffer.erase(buffer.begin(), buffer.begin() + consumed);
    return r;
  }
};

}  // namespace

TEST(FrameExtractor, TwoFramesAndAPartialThirdInOneReceive) {
  const bytes f1 = be::frame(14, be().u8(0).str("a"));
  const bytes f2 = be::frame(14, be().u8(2));
  const bytes f3 = be::frame(19, be().str("third frame"));
  bytes first(f1);
  first.insert(first.end(), f2.begin(), f2.end());
  first.insert(first.end(), f3.begin(), f3.begin() + 9);  // header and part of the body
  extraction x;
  EXPECT_EQ(frame_extractor::result::ok, x.feed(first));
  ASSERT_EQ(2u, x.frames.size());
  EXPECT_EQ(14, x.frames[0].code);
  EXPECT_EQ((bytes{0, 0, 0, 0, 1, 'a'}), x.frames[0].body);
  EXPECT_EQ((bytes{2}), x.frames[1].body);
  EXPECT_EQ(9u, x.buffer.size()) << "the partial frame stays for the next receive";
  EXPECT_FALSE(x.extractor.header_expected());
  EXPECT_EQ(f3.size() - 6, x.extractor.body_length());
  EXPECT_EQ(frame_extractor::result::ok, x.feed(bytes(f3.begin() + 9, f3.end())));
  ASSERT_EQ(3u, x.frames.size());
  EXPECT_EQ(19, x.frames[2].code);
  EXPECT_TRUE(x.buffer.empty());
  EXPECT_TRUE(x.extractor.header_expected());
}

TEST(FrameExtractor, AHeaderSplitInTwoAndAFrameFedByteByByte) {
  const bytes f = be::frame(0x1234, be().str("payload"));
  extraction x;
  EXPECT_EQ(frame_extractor::result::ok, x.feed(bytes(f.begin(), f.begin() + 3)));
  EXPECT_TRUE(x.frames.empty());
  EXPECT_TRUE(x.extractor.header_expected()) << "three bytes are no header yet";
  EXPECT_EQ(frame_extractor::result::ok, x.feed(bytes(f.begin() + 3, f.end())));
  ASSERT_EQ(1u, x.frames.size());
  EXPECT_EQ(0x1234, x.frames[0].code);

  extraction y;
  for (std::uint8_t b : f) y.feed(bytes{b});
  ASSERT_EQ(1u, y.frames.size());
  EXPECT_EQ(x.frames[0], y.frames[0]);
}

TEST(FrameExtractor, EmptyBodiesAreFrames) {
  extraction x;
  bytes two = be::frame(8, be());
  const bytes again = be::frame(9, be());
  two.insert(two.end(), again.begin(), again.end());
  x.feed(two);
  ASSERT_EQ(2u, x.frames.size());
  EXPECT_TRUE(x.frames[1].body.empty());
}

TEST(FrameExtractor, ADeclaredLengthAboveTheBoundEndsTheConnection) {
  struct limit_case {
    std::uint32_t declared;
    frame_extractor::result expected;
  };
  for (const auto& c : {limit_case{kMaxFrameBody, frame_extractor::result::ok},
                        limit_case{kMaxFrameBody + 1, frame_extractor::result::oversized},
                        limit_case{0xFFFFFFFFu, frame_extractor::result::oversized}}) {
    extraction x;
    bytes good = be::frame(19, be().str("ok"));
    bytes huge = be().u16(14).u32(c.declared).u8(0).bytes;
    good.insert(good.end(), huge.begin(), huge.end());
    EXPECT_EQ(c.expected, x.feed(good)) << c.declared;
    EXPECT_EQ(1u, x.frames.size()) << "frames before it are still delivered";
  }
}

TEST(FrameExtractor, ASinkThatStopsEndsExtractionWithConsumedCoveringItsFrame) {
  const bytes f1 = be::frame(1, be().u8(1));
  bytes buffer(f1);
  buffer.insert(buffer.end(), f1.begin(), f1.end());
  frame_extractor x;
  std::uint32_t consumed = 0;
  int calls = 0;
  auto r = x.extract(buffer.data(), static_cast<std::uint32_t>(buffer.size()), consumed,
                     [&](std::uint16_t, const std::uint8_t*, std::uint32_t) {
                       ++calls;
                       return false;
                     });
  EXPECT_EQ(frame_extractor::result::stopped, r);
  EXPECT_EQ(1, calls);
  EXPECT_EQ(f1.size(), consumed);
}

// ---- replies --------------------------------------------------------------------------------

struct reply_case {
  const char* name;
  std::uint16_t code;
  be body;
  bool deliver;
  bool final;
  const char* expected;  // the callback's arguments
};

class Reply : public ::testing::TestWithParam<reply_case> {};

TEST_P(Reply, DecodesToTheCallbackArguments) {
  const auto& c = GetParam();
  decoded_reply r = decode_reply(c.code, c.body.bytes.data(), static_cast<std::uint32_t>(c.body.bytes.size()), kDevice);
  EXPECT_TRUE(r.listed);
  EXPECT_EQ(c.deliver, r.deliver);
  EXPECT_EQ(c.final, r.final);
  EXPECT_EQ(c.expected, render(r.args));
}

constexpr std::uint64_t k5GiB = 5368709120ULL;

INSTANTIATE_TEST_SUITE_P(
    Batch, Reply,
    ::testing::Values(
        reply_case{"Music4", 4,
                   be().u8(0).u32(1).str("Al").str("Si").str("/m/a.mp3").u32(200).u64(k5GiB).u16(1)
                       .u32(2).str("").str("").str("/m/b").u32(0).u64(9).u16(0),
                   true, false,
                   "[5, 0, [{ID=1, Zhuanji=\"Al\", Singer=\"Si\", Path=\"/m/a.mp3\", Timer=200, Size=5368709120#, IsRing=1}, "
                   "{ID=2, Zhuanji=\"\", Singer=\"\", Path=\"/m/b\", Timer=0, Size=9#, IsRing=0}]]"},
        reply_case{"Video5", 5, be().u8(1).u32(3).str("/v.mp4").u32(60).u64(1024), true, false,
                   "[5, 1, [{ID=3, FilePath=\"/v.mp4\", Timer=60, Size=1024#}]]"},
        reply_case{"Picture6", 6, be().u8(0).u32(4).str("/p.jpg").u64(77), true, false,
                   "[5, 0, [{ID=4, FilePath=\"/p.jpg\", Size=77#}]]"},
        reply_case{"File7", 7, be().u8(0).str("/f").u64(1).u16(2), true, false,
                   "[5, 0, [{FilePath=\"/f\", Size=1#, Location=2}]]"},
        reply_case{"Apps13CarryTheDeviceId", 13,
                   be().u8(0).u32(4096).u16(1).str("Maps").str("com.maps").str("1.2").str("12").u64(0xFFFFFFFFFFFFFFFFULL),
                   true, false,
                   "[5, \"dev-1\", 0, [{Size=4096, Location=1, Name=\"Maps\", packName=\"com.maps\", ver=\"1.2\", "
                   "verCode=\"12\", time=-1#}]]"},
        reply_case{"Apps13End", 13, be().u8(2), true, true, "[5, \"dev-1\", 2]"},
        reply_case{"Contacts14", 14, be().u8(0).str("7").str("Ann").str("123"), true, false,
                   "[5, 0, [{ID=\"7\", Name=\"Ann\", Number=\"123\"}]]"},
        reply_case{"Files16", 16, be().u8(0).str("/d").u16(1).u64(0), true, false,
                   "[5, 0, [{FilePath=\"/d\", Type=1, Size=0#}]]"},
        reply_case{"Messages47", 47, be().u8(0).str("555").str("hi").str("2020").u16(1).u32(9).u32(3).u16(1), true,
                   false,
                   "[5, 0, [{Number=\"555\", Content=\"hi\", Date=\"2020\", Type=1, ID=9, ThreadID=3, Read=1}]]"},
        reply_case{"SendResult50WithStatus1CarriesTheMessage", 50,
                   be().u8(1).str("555").str("hi").str("d").u16(2).u32(8).u32(4).u16(0), true, false,
                   "[5, 1, [{Number=\"555\", Content=\"hi\", Date=\"d\", Type=2, ID=8, ThreadID=4, Read=0, Success=1}]]"},
        reply_case{"SendResult50OtherStatusCarriesNumbersOnly", 50, be().u8(0).str("555").str("556"), true, false,
                   "[5, 0, [{Number=\"555\", Success=0}, {Number=\"556\", Success=0}]]"},
        reply_case{"Paths99", 99, be().u8(0).str("/a").u8(1).str("/b").u8(0), true, false,
                   "[5, 0, [{FilePath=\"/a\", Type=1}, {FilePath=\"/b\", Type=0}]]"},
        reply_case{"Paths108", 108, be().u8(3).str("/a").u8(1), true, false, "[5, 3, [{FilePath=\"/a\", Type=1}]]"},
        reply_case{"Paths109", 109, be().u8(0), true, false, "[5, 0, []]"},
        reply_case{"Paths110", 110, be().u8(0).str("/x").u8(2), true, false, "[5, 0, [{FilePath=\"/x\", Type=2}]]"},
        reply_case{"Paths113", 113, be().u8(0).str("/y").u8(3), true, false, "[5, 0, [{FilePath=\"/y\", Type=3}]]"},
        reply_case{"Dirs111", 111, be().u8(0).u8(1).str("/dir").str("/dir/f"), true, false,
                   "[5, 0, [{Type=1, FileDir=\"/dir\", FilePath=\"/dir/f\"}]]"},
        reply_case{"Dirs111EndCarriesTheTotal", 111, be().u8(2).u64(123456789012ULL), true, true,
                   "[5, 2, 123456789012#]"},
        reply_case{"Dirs111EndWithoutTotal", 111, be().u8(2), true, true, "[5, 2, 0#]"},
        reply_case{"EndFrame", 14, be().u8(2).str("ignored"), true, true, "[5, 2]"},
        reply_case{"EmptyBodyIsTheEnd", 4, be(), true, true, "[5, 2]"},
        reply_case{"AnIncompleteRecordEndsTheList", 14, be().u8(0).str("1").str("A").str("9").str("2").str("B"), true,
                   false, "[5, 0, [{ID=\"1\", Name=\"A\", Number=\"9\"}]]"},
        reply_case{"ARecordCutInsideAStringIsDropped", 6, be().u8(0).u32(1).u32(10).u8('x'), true, false,
                   "[5, 0, []]"},
        reply_case{"Apps13WithoutItsTimeIsIncomplete", 13, be().u8(0).u32(1).u16(1).str("a").str("b").str("c").str("d"),
                   true, false, "[5, \"dev-1\", 0, []]"}),
    [](const ::testing::TestParamInfo<reply_case>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Single, Reply,
    ::testing::Values(
        reply_case{"Value38", 38, be().u32(42), true, true, "[5, \"dev-1\", 42]"},
        reply_case{"Value38Short", 38, be().u8(1), true, true, "[5, \"dev-1\", 0]"},
        reply_case{"Storage40", 40,
                   be().u32(1).u32(2).u32(3).u64(4).u64(5).u64(6).u64(0xFFFFFFFFFFFFFFFEULL).str("s1").str("s2")
                       .u32(8).u32(9).u32(10).u32(11),
                   true, true, "[5, \"dev-1\", 9, 3, 1, 2, 11, 8, 10, 5#, -2#, 4#, 6#, \"s2\", \"s1\"]"},
        reply_case{"Storage40Empty", 40, be(), true, true,
                   "[5, \"dev-1\", 0, 0, 0, 0, 0, 0, 0, 0#, 0#, 0#, 0#, \"\", \"\"]"},
        reply_case{"Result69", 69, be().u8(1), true, true, "[5, 1]"},
        reply_case{"Result71", 71, be().u8(0), true, true, "[5, 0]"},
        reply_case{"Result73", 73, be().u8(255), true, true, "[5, 255]"},
        reply_case{"Result76", 76, be().u8(3), true, true, "[5, 3]"},
        reply_case{"Result78Empty", 78, be(), true, true, "[5, 0]"},
        reply_case{"Number114", 114, be().str("1234abc"), true, true, "[5, 1234]"},
        reply_case{"Number114WithoutDigits", 114, be().str("abc"), true, true, "[5, 0]"},
        reply_case{"Number114Empty", 114, be(), true, true, "[5, 0]"}),
    [](const ::testing::TestParamInfo<reply_case>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Progress, Reply,
    ::testing::Values(
        reply_case{"Three53", 53, be().u8(0).str("a").str("b").str("c"), true, false, "[5, 0, \"a\", \"b\", \"c\"]"},
        reply_case{"Three53Short", 53, be().u8(1).str("a"), true, false, "[5, 1, \"a\", \"\", \"\"]"},
        reply_case{"One54", 54, be().u8(1).str("x"), true, false, "[5, 1, \"x\"]"},
        reply_case{"One57", 57, be().u8(0).str("y"), true, false, "[5, 0, \"y\"]"},
        reply_case{"StringAndNumber80", 80, be().u8(0).str("f").u32(50), true, false, "[5, 0, \"f\", 50]"},
        reply_case{"StringAndNumber82", 82, be().u8(1).str("g").u32(7), true, false, "[5, 1, \"g\", 7]"},
        reply_case{"StringAndNumber84", 84, be().u8(0), true, false, "[5, 0, \"\", 0]"},
        reply_case{"End", 54, be().u8(2).str("ignored"), true, true, "[5, 2]"},
        reply_case{"EmptyBodyIsTheEnd", 80, be(), true, true, "[5, 2]"},
        reply_case{"OtherStatusIsIgnored", 53, be().u8(3).str("a"), false, false, "[]"}),
    [](const ::testing::TestParamInfo<reply_case>& info) { return info.param.name; });

TEST(AgentProtocol, UnlistedReplyCodesAreMarkedAndDeliverNothing) {
  for (std::uint16_t code : {0, 1, 8, 15, 18, 19, 39, 100, 65535}) {
    const bytes body{0, 1, 2};
    decoded_reply r = decode_reply(code, body.data(), 3, kDevice);
    EXPECT_FALSE(r.listed) << code;
    EXPECT_FALSE(r.deliver) << code;
    EXPECT_FALSE(r.final) << code;
  }
}

TEST(AgentProtocol, ErrorArguments) {
  EXPECT_EQ("[6, \"dev-1\"]", render(socket_error_arguments(kDevice)));
  EXPECT_EQ("[\"dev-1\", 2]", render(event_channel_error_arguments(kDevice)));
}

// ---- notifications --------------------------------------------------------------------------

struct notification_case {
  const char* name;
  std::uint16_t code;
  be body;
  const char* expected;  // the listener's arguments
};

class Notification : public ::testing::TestWithParam<notification_case> {};

TEST_P(Notification, DecodesToTheListenerArguments) {
  const auto& c = GetParam();
  agent_values args;
  ASSERT_TRUE(decode_notification(c.code, c.body.bytes.data(), static_cast<std::uint32_t>(c.body.bytes.size()),
                                  kDevice, args));
  EXPECT_EQ(c.expected, render(args));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Notification,
    ::testing::Values(
        notification_case{"Call18", 18, be().u32(1).u16(2).str("a").str("b").str("c").str("d").u64(99),
                          "[\"dev-1\", 18, 1, 2, \"a\", \"b\", \"c\", \"d\"]"},
        notification_case{"Call18Empty", 18, be(), "[\"dev-1\", 18, 0, 0, \"\", \"\", \"\", \"\"]"},
        notification_case{"Text19", 19, be().str("hello"), "[\"dev-1\", 19, \"hello\"]"},
        notification_case{"Text19Empty", 19, be(), "[\"dev-1\", 19, \"\"]"},
        notification_case{"Sms48Flag1", 48, be().u8(1).str("a").str("b").str("c").u16(1).u32(2).u32(3).u16(4),
                          "[\"dev-1\", 48, 1, \"a\", \"b\", \"c\", 1, 2, 3, 4]"},
        notification_case{"Sms50Flag2", 50, be().u8(2).str("a").str("b").str("c").u16(5).u32(6).u32(7).u16(8),
                          "[\"dev-1\", 50, 2, \"a\", \"b\", \"c\", 5, 6, 7, 8]"},
        notification_case{"Sms48OtherFlagCarriesOneString", 48, be().u8(0).str("only").str("more"),
                          "[\"dev-1\", 48, 0, \"only\", \"\", \"\", 0, 0, 0, 0]"},
        notification_case{"Sms50EmptyMeansFlag1", 50, be(), "[\"dev-1\", 50, 1, \"\", \"\", \"\", 0, 0, 0, 0]"},
        notification_case{"App105Flag1", 105, be().u8(1).u32(10).u32(20).str("s").u32(30).u64(0x8000000000000000ULL),
                          "[\"dev-1\", 105, 1, 10, 20, \"s\", 30, -9.2233720368547758e+18#]"},
        notification_case{"App105Flag0", 105, be().u8(0).str("s"), "[\"dev-1\", 105, 0, 0, 1, \"s\", 0, 0#]"},
        notification_case{"App105Empty", 105, be(), "[\"dev-1\", 105, 0, 0, 1, \"\", 0, 0#]"},
        notification_case{"App105Short", 105, be().u8(1).u32(10), "[\"dev-1\", 105, 1, 10, 0, \"\", 0, 0#]"},
        notification_case{"App106Flag1", 106, be().u8(1).u32(1).u32(2).str("s").u64(3),
                          "[\"dev-1\", 106, 1, 1, \"s\", 2, 3#]"},
        notification_case{"App106Flag0", 106, be().u8(0).str("s"), "[\"dev-1\", 106, 0, 0, \"s\", 1, 0#]"},
        notification_case{"App106OtherFlag", 106, be().u8(5).str("s"), "[\"dev-1\", 106, 5, 0, \"\", 1, 0#]"},
        notification_case{"Copy107Flag1", 107,
                          be().u8(1).u32(1).u32(2).str("a").str("b").str("c").u32(3).u64(4).u16(5),
                          "[\"dev-1\", 107, 1, 1, 2, \"a\", \"b\", \"c\", 3, 4#, 5]"},
        notification_case{"Copy107Flag0FillsTheThirdString", 107, be().u8(0).str("c"),
                          "[\"dev-1\", 107, 0, 0, 0, \"\", \"\", \"c\", 0, 0#, 0]"},
        notification_case{"Copy107EmptyMeansFlag1", 107, be(),
                          "[\"dev-1\", 107, 1, 0, 0, \"\", \"\", \"\", 0, 0#, 0]"}),
    [](const ::testing::TestParamInfo<notification_case>& info) { return info.param.name; });

TEST(AgentProtocol, OtherCodesOnTheEventChannelAreNotNotifications) {
  for (std::uint16_t code : {0, 4, 8, 14, 47, 104, 108, 65535}) {
    agent_values args;
    EXPECT_FALSE(decode_notification(code, nullptr, 0, kDevice, args)) << code;
    EXPECT_TRUE(args.empty());
  }
}

TEST(AgentProtocol, LeadingDecimal) {
  const std::vector<std::pair<std::string, std::int64_t>> cases{
      {"0", 0},         {"42", 42},       {"  17x", 17},          {"-5", -5},   {"+8", 8},
      {"", 0},          {"x1", 0},        {"2147483647", 2147483647}, {"99999999999", 2147483647},
      {"-99999999999", -2147483648LL}};
  for (const auto& c : cases) EXPECT_EQ(c.second, leading_decimal(c.first)) << '"' << c.first << '"';
}
