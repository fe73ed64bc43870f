// The socket message manager against the agent simulator, a separate reading of the protocol
// tables in Python: every reply and notification code, the fault modes, and cancellation at any
// point. (The simulator runs beside the host, so these run on Linux.)
#include <gtest/gtest.h>

#include "device/socket_message_manager.h"

#include "agentsim_harness_posix.h"
#include "loop_helpers.h"

#include <string>
#include <vector>

using namespace device;
using device_test::agent_simulator;
using device_test::run_until;
using device_test::settle;

namespace {

const std::string kDevice = "dev-1";

std::string render(const agent_values& args) {
  agent_value list = agent_value::make_array();
  list.items = args;
  return list.debug_string();
}

class SocketManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.running()) << "the agent simulator did not start";
    previous_sink_ = set_log_sink([this](const std::string& line) { log_.push_back(line); });
  }
  void TearDown() override { set_log_sink(previous_sink_); }

  socket_message_manager::port_table ports() const {
    return {sim_.command_port(), 12158, 12159, sim_.event_port()};
  }

  // Sends a request whose replies are recorded; returns its id.
  std::uint32_t ask(socket_message_manager& m, std::int64_t code, std::vector<std::string>& transcript) {
    return m.send_message(code, {}, [&transcript](const agent_values& args) { transcript.push_back(render(args)); });
  }

  agent_simulator sim_;
  std::vector<std::string> log_;
  log_sink previous_sink_;
};

struct transcript_case {
  std::int64_t code;
  std::vector<std::string> expected;
};

const std::vector<transcript_case>& every_reply() {
  static const std::vector<std::string> paths{
      "[5, 0, [{FilePath=\"/sdcard/DCIM\", Type=1}, {FilePath=\"/sdcard/DCIM/a.jpg\", Type=0}]]", "[5, 2]"};
  static const std::vector<transcript_case> cases{
      {4,
       {"[5, 0, [{ID=21, Zhuanji=\"Greatest\", Singer=\"The Band\", Path=\"/sdcard/Music/one.mp3\", Timer=215000, "
        "Size=5242880#, IsRing=0}, {ID=22, Zhuanji=\"\", Singer=\"\", Path=\"/system/media/audio/ringtones/ring.ogg\", "
        "Timer=4000, Size=65536#, IsRing=1}]]",
        "[5, 2]"}},
      {5,
       {"[5, 0, [{ID=31, FilePath=\"/sdcard/DCIM/Camera/VID_0001.mp4\", Timer=61000, Size=5368709120#}, "
        "{ID=32, FilePath=\"/sdcard/Movies/clip.3gp\", Timer=1500, Size=300000#}]]",
        "[5, 2]"}},
      {6,
       {"[5, 0, [{ID=41, FilePath=\"/sdcard/DCIM/Camera/IMG_0001.jpg\", Size=3145728#}, "
        "{ID=42, FilePath=\"/sdcard/Pictures/Screenshots/s.png\", Size=204800#}]]",
        "[5, 2]"}},
      {7,
       {"[5, 0, [{FilePath=\"/sdcard/Download/setup.apk\", Size=10485760#, Location=0}, "
        "{FilePath=\"/storage/0000-0000/book.pdf\", Size=2097152#, Location=1}]]",
        "[5, 2]"}},
      {13,
       {"[5, \"dev-1\", 0, [{Size=4404019, Location=0, Name=\"Maps\", packName=\"com.example.maps\", ver=\"10.2.1\", "
        "verCode=\"1021\", time=1577836800000#}, {Size=1048576, Location=1, Name=\"Notes\", "
        "packName=\"org.example.notes\", ver=\"2.0\", verCode=\"20\", time=1609459200000#}, {Size=73400320, "
        "Location=0, Name=\"Video Player\", packName=\"com.example.player\", ver=\"5.4.3-beta\", verCode=\"5403\", "
        "time=1640995200000#}]]",
        "[5, \"dev-1\", 1, [{Size=0, Location=1, Name=\"\\xE7\\xA9\\xBA\\xE7\\x99\\xBD\", "
        "packName=\"cn.example.blank\", ver=\"\", verCode=\"0\", time=0#}]]",
        "[5, \"dev-1\", 2]"}},
      {14,
       {"[5, 0, [{ID=\"1\", Name=\"Ann Example\", Number=\"+1 555 0100\"}, {ID=\"2\", Name=\"Bernd Beispiel\", "
        "Number=\"0301234567\"}, {ID=\"3\", Name=\"\\xE5\\xBC\\xA0\\xE4\\xBC\\x9F\", Number=\"13800138000\"}]]",
        "[5, 1, [{ID=\"4\", Name=\"\", Number=\"\"}, {ID=\"5\", Name=\"Quote \\x22 and \\x5C backslash\", "
        "Number=\"*31#\"}]]",
        "[5, 2]"}},
      {16,
       {"[5, 0, [{FilePath=\"/sdcard/Download\", Type=1, Size=0#}, {FilePath=\"/sdcard/notes.txt\", Type=0, "
        "Size=1234#}]]",
        "[5, 2]"}},
      {50,
       {"[5, 1, [{Number=\"+15550100\", Content=\"On my way\", Date=\"1612310400000\", Type=2, ID=14, ThreadID=3, "
        "Read=1, Success=1}]]",
        "[5, 2]"}},
      {99, paths},
      {108, paths},
      {109, paths},
      {110, paths},
      {113, paths},
      {111,
       {"[5, 0, [{Type=0, FileDir=\"/sdcard/DCIM\", FilePath=\"/sdcard/DCIM/a.jpg\"}, {Type=1, FileDir=\"/sdcard\", "
        "FilePath=\"/sdcard/DCIM\"}]]",
        "[5, 2, 3221225472#]"}},
      {38, {"[5, \"dev-1\", 87]"}},
      {40,
       {"[5, \"dev-1\", 5, 3, 1, 2, 7, 4, 6, 32000000000#, 8000000000#, 64000000000#, 16000000000#, "
        "\"/storage/0000-0000\", \"/sdcard\"]"}},
      {69, {"[5, 1]"}},
      {71, {"[5, 1]"}},
      {73, {"[5, 1]"}},
      {76, {"[5, 1]"}},
      {78, {"[5, 1]"}},
      {114, {"[5, 4096]"}},
      {53,
       {"[5, 0, \"/sdcard/a.jpg\", \"C:\\x5Cbackup\\x5Ca.jpg\", \"1/2\"]",
        "[5, 1, \"/sdcard/b.jpg\", \"C:\\x5Cbackup\\x5Cb.jpg\", \"2/2\"]", "[5, 2]"}},
      {54, {"[5, 0, \"step one\"]", "[5, 1, \"step two\"]", "[5, 2]"}},
      {57, {"[5, 0, \"step one\"]", "[5, 1, \"step two\"]", "[5, 2]"}},
      {80, {"[5, 0, \"/sdcard/x.bin\", 50]", "[5, 1, \"/sdcard/x.bin\", 100]", "[5, 2]"}},
      {82, {"[5, 0, \"/sdcard/x.bin\", 50]", "[5, 1, \"/sdcard/x.bin\", 100]", "[5, 2]"}},
      {84, {"[5, 0, \"/sdcard/x.bin\", 50]", "[5, 1, \"/sdcard/x.bin\", 100]", "[5, 2]"}},
  };
  return cases;
}

}  // namespace

TEST_F(SocketManagerTest, EveryReplyCodeReachesTheCallbackAsTheAgentSentIt) {
  socket_message_manager m(kDevice, ports());
  std::vector<std::vector<std::string>> transcripts(every_reply().size());
  for (std::size_t i = 0; i < every_reply().size(); ++i) {
    EXPECT_EQ(i + 1, ask(m, every_reply()[i].code, transcripts[i])) << "ids count from 1";
  }
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  for (std::size_t i = 0; i < every_reply().size(); ++i) {
    EXPECT_EQ(every_reply()[i].expected, transcripts[i]) << "code " << every_reply()[i].code;
  }
  EXPECT_TRUE(log_.empty());
  EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})")) << "every request connection was closed";
}

TEST_F(SocketManagerTest, RequestArgumentsTravelAsFramed) {
  socket_message_manager m(kDevice, ports());
  m.send_message(65536 + 38, {request_argument::make_number(3.0), request_argument::make_number(3.5),
                                      request_argument::make_string(std::string("ab\0c", 4)),
                                      request_argument::make_boolean(true)},
                 nullptr);
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  const std::string reqs = sim_.control(R"({"op": "requests"})");
  // The low 16 bits of the code; 3.0 as u32 3, 3.5 left out, the string up to its NUL, true as 1.
  EXPECT_NE(std::string::npos, reqs.find(R"("code": 38, "body": "0300000002000000616201000000")"))
      << reqs;
}

namespace {

struct fault_case {
  const char* mode;
  std::vector<std::string> expected;  // code 14's transcript
  bool log_line;
};

class SocketManagerFault : public SocketManagerTest, public ::testing::WithParamInterface<fault_case> {};

}  // namespace

// Every fault mode ends the request cleanly: the right callbacks, then the request and its
// connection are gone.
TEST_P(SocketManagerFault, EndsTheRequestCleanly) {
  const fault_case& c = GetParam();
  ASSERT_TRUE(sim_.control_ok(std::string(R"({"op": "fault", "mode": ")") + c.mode + "\"}"));
  socket_message_manager m(kDevice, ports());
  std::vector<std::string> transcript;
  ask(m, 14, transcript);
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  EXPECT_EQ(c.expected, transcript);
  EXPECT_EQ(c.log_line ? 1u : 0u, log_.size());
  EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})"));
}

namespace {
const std::string kBatch0 =
    "[5, 0, [{ID=\"1\", Name=\"Ann Example\", Number=\"+1 555 0100\"}, {ID=\"2\", Name=\"Bernd Beispiel\", "
    "Number=\"0301234567\"}, {ID=\"3\", Name=\"\\xE5\\xBC\\xA0\\xE4\\xBC\\x9F\", Number=\"13800138000\"}]]";
const std::string kBatch1 =
    "[5, 1, [{ID=\"4\", Name=\"\", Number=\"\"}, {ID=\"5\", Name=\"Quote \\x22 and \\x5C backslash\", "
    "Number=\"*31#\"}]]";
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Modes, SocketManagerFault,
    ::testing::Values(fault_case{"split", {kBatch0, kBatch1, "[5, 2]"}, false},
                      fault_case{"coalesce", {kBatch0, kBatch1, "[5, 2]"}, false},
                      fault_case{"unlisted", {kBatch0, kBatch1, "[5, 2]"}, true},
                      fault_case{"close_early", {kBatch0, kBatch1}, false},
                      fault_case{"huge", {"[6, \"dev-1\"]"}, false}),
    [](const ::testing::TestParamInfo<fault_case>& info) { return std::string(info.param.mode); });

TEST_F(SocketManagerTest, ASilentAgentKeepsTheRequestUntilItIsCancelled) {
  ASSERT_TRUE(sim_.control_ok(R"({"op": "fault", "mode": "silent"})"));
  socket_message_manager m(kDevice, ports());
  std::vector<std::string> transcript;
  const std::uint32_t id = ask(m, 14, transcript);
  settle();
  EXPECT_TRUE(m.has_request(id));
  m.cancel(id);
  EXPECT_FALSE(m.has_request(id));
  m.cancel(id);  // no longer there: nothing happens
  settle();
  EXPECT_TRUE(transcript.empty());
  EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})"));
}

TEST_F(SocketManagerTest, ARefusedConnectionCallsBackWithTheErrorOnce) {
  socket_message_manager::port_table closed = ports();
  closed[0] = sim_.event_port() == 1 ? 2 : 1;  // nothing listens on a privileged port here
  socket_message_manager m(kDevice, closed);
  std::vector<std::string> transcript;
  ask(m, 14, transcript);
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  settle();
  EXPECT_EQ((std::vector<std::string>{"[6, \"dev-1\"]"}), transcript);
}

TEST_F(SocketManagerTest, CancellingFromInsideACallbackStopsEverything) {
  // All frames of the reply arrive in one receive, so more are waiting when the callback cancels.
  ASSERT_TRUE(sim_.control_ok(R"({"op": "fault", "mode": "coalesce", "code": 14})"));
  socket_message_manager m(kDevice, ports());
  std::vector<std::string> own;
  std::uint32_t own_id = 0;
  own_id = m.send_message(14, {}, [&](const agent_values& args) {
    own.push_back(render(args));
    m.cancel(own_id);
  });
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  settle();
  EXPECT_EQ(1u, own.size());

  // cancel_all from inside one request's callback also ends a request still waiting for data.
  ASSERT_TRUE(sim_.control_ok(R"({"op": "fault", "mode": "silent", "code": 14})"));
  ASSERT_TRUE(sim_.control_ok(R"({"op": "fault", "mode": "coalesce", "code": 54})"));
  std::vector<std::string> waiting, other;
  m.send_message(14, {}, [&](const agent_values& args) { waiting.push_back(render(args)); });
  m.send_message(54, {}, [&](const agent_values& args) {
    other.push_back(render(args));
    m.cancel_all();
  });
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  settle();
  EXPECT_EQ(1u, other.size());
  EXPECT_TRUE(waiting.empty());
  EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})"));
}

TEST_F(SocketManagerTest, DestroyingTheManagerInsideACallbackIsSafe) {
  auto m = std::make_unique<socket_message_manager>(kDevice, ports());
  int calls = 0;
  m->send_message(14, {}, [&](const agent_values&) {
    ++calls;
    m.reset();
  });
  m->send_message(13, {}, nullptr);
  ASSERT_TRUE(run_until([&] { return !m; }));
  settle();
  EXPECT_EQ(1, calls);
  EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})"));
}

TEST_F(SocketManagerTest, PortsInitAndUninit) {
  socket_message_manager m(kDevice);
  const std::vector<std::pair<int, std::uint32_t>> kinds{{0, 12157}, {1, 12158}, {2, 12159}, {3, 12156}, {4, 0}};
  for (const auto& k : kinds) EXPECT_EQ(k.second, m.forward_port(k.first));
  EXPECT_FALSE(m.initialized());
  m.init(nullptr);
  EXPECT_TRUE(m.initialized());
  EXPECT_TRUE(m.event_channel_bound());
  m.uninit();
  EXPECT_FALSE(m.event_channel_bound());
  m.init(nullptr);
  EXPECT_FALSE(m.event_channel_bound()) << "a second init does nothing";
  m.connect();  // after uninit: nothing
  EXPECT_FALSE(m.event_channel_bound());
}

TEST_F(SocketManagerTest, NotificationsReachTheListenerWithTheirArguments) {
  socket_message_manager m(kDevice, ports());
  std::vector<std::string> heard;
  m.init([&](const agent_values& args) { heard.push_back(render(args)); });
  m.init([&](const agent_values&) { heard.push_back("second listener"); });
  m.connect();
  // The subscription goes out once the loop runs; the simulator answers on its control port.
  ASSERT_TRUE(run_until([&] { return sim_.control_ok(R"({"op": "wait_subscribed", "timeout": 0.05})"); }));
  const std::vector<std::string> expected{
      "[\"dev-1\", 18, 1, 2, \"+15550100\", \"Ann Example\", \"incoming\", \"\"]",
      "[\"dev-1\", 19, \"battery 80%\"]",
      "[\"dev-1\", 48, 1, \"+15550100\", \"Hello there\", \"1612310400000\", 1, 15, 3, 0]",
      "[\"dev-1\", 50, 2, \"+15550100\", \"On my way\", \"1612310400000\", 2, 14, 3, 1]",
      "[\"dev-1\", 105, 1, 3, 10, \"com.example.maps\", 50, 4404019#]",
      "[\"dev-1\", 106, 1, 4, \"com.example.notes\", 10, 1048576#]",
      "[\"dev-1\", 107, 1, 5, 6, \"/sdcard/a\", \"/sdcard/b\", \"a.jpg\", 7, 3145728#, 1]",
  };
  for (const char* mode : {"none", "split", "coalesce"}) {
    heard.clear();
    // 77 is not a notification: consumed and dropped between the others.
    ASSERT_TRUE(sim_.control_ok(std::string(R"({"op": "notify", "codes": [18, 19, 77, 48, 50, 105, 106, 107], "mode": ")") +
                                mode + "\"}"));
    ASSERT_TRUE(run_until([&] { return heard.size() >= expected.size(); })) << mode;
    EXPECT_EQ(expected, heard) << mode;
  }
  // An orderly close by the agent calls nothing; a reset is an error: (device_id, 2).
  heard.clear();
  ASSERT_TRUE(sim_.control_ok(R"({"op": "drop_events", "how": "close"})"));
  settle();
  EXPECT_TRUE(heard.empty());
  m.connect();  // reconnects
  ASSERT_TRUE(run_until([&] { return sim_.control_ok(R"({"op": "wait_subscribed", "timeout": 0.05})"); }));
  ASSERT_TRUE(sim_.control_ok(R"({"op": "drop_events", "how": "reset"})"));
  ASSERT_TRUE(run_until([&] { return !heard.empty(); }));
  EXPECT_EQ((std::vector<std::string>{"[\"dev-1\", 2]"}), heard);
}

TEST_F(SocketManagerTest, AnOversizedNotificationFrameEndsTheEventChannelAsAnError) {
  socket_message_manager m(kDevice, ports());
  std::vector<std::string> heard;
  m.init([&](const agent_values& args) { heard.push_back(render(args)); });
  m.connect();
  ASSERT_TRUE(run_until([&] { return sim_.control_ok(R"({"op": "wait_subscribed", "timeout": 0.05})"); }));
  ASSERT_TRUE(sim_.control_ok(R"({"op": "drop_events", "how": "huge"})"));
  ASSERT_TRUE(run_until([&] { return !heard.empty(); }));
  EXPECT_EQ((std::vector<std::string>{"[\"dev-1\", 2]"}), heard);
  // The agent sees the PC close the connection.
  EXPECT_TRUE(run_until([&] {
    return sim_.control(R"({"op": "stats"})").find("\"event_connections\": 0") != std::string::npos;
  }));
}

TEST_F(SocketManagerTest, UninitFromInsideTheListenerStopsFurtherNotifications) {
  socket_message_manager m(kDevice, ports());
  std::vector<std::string> heard;
  m.init([&](const agent_values& args) {
    heard.push_back(render(args));
    m.uninit();
  });
  m.connect();
  ASSERT_TRUE(run_until([&] { return sim_.control_ok(R"({"op": "wait_subscribed", "timeout": 0.05})"); }));
  ASSERT_TRUE(sim_.control_ok(R"({"op": "notify", "codes": [19, 19, 19], "mode": "coalesce"})"));
  ASSERT_TRUE(run_until([&] { return !heard.empty(); }));
  settle();
  EXPECT_EQ(1u, heard.size());
  EXPECT_FALSE(m.event_channel_bound());
}
