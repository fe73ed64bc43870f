// Contact lists into "Socket.Manager.Class": records per second from the request until the final
// callback, against a floor measured in the same run (the same Lua tables built by a plain Lua
// loop), for N and 10 N records.
//
//   device_bench [records=100000] [records_per_frame=1000]
//
// The agent side is a blaster thread that has every frame ready before the request arrives, so
// the figure is the host's: receiving, frame extraction, decoding and building the Lua tables.
#include "hostbase/message_window.h"
#include "device/lua_socket_manager.h"
#include "qv/singleton_ex.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <lauxlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
using asio::ip::tcp;
using clock_type = std::chrono::steady_clock;

namespace {

std::uint16_t g_port = 0;

void put_u32(std::string& out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
}

void put_string(std::string& out, const std::string& s) {
  put_u32(out, static_cast<std::uint32_t>(s.size()));
  out += s;
}

// The whole reply to a contact-list request: batches of per_frame records, then the end frame.
std::string contact_reply(std::uint32_t records, std::uint32_t per_frame) {
  std::string all;
  for (std::uint32_t first = 1; first <= records; first += per_frame) {
    std::string body(1, static_cast<char>(first == 1 ? 0 : 1));
    for (std::uint32_t i = first; i < first + per_frame && i <= records; ++i) {
      put_string(body, std::to_string(i));
      put_string(body, "Contact " + std::to_string(i));
      put_string(body, "+1555" + std::to_string(1000000 + i));
    }
    all += std::string{0, 14};
    put_u32(all, static_cast<std::uint32_t>(body.size()));
    all += body;
  }
  all += std::string{0, 14, 0, 0, 0, 1, 2};
  return all;
}

int bench_manager(lua_State* L) {
  device::CLuaSocketMessageManager::Push(L, "bench", {g_port, 0, 0, 0});
  return 1;
}

int bench_done(lua_State*) {
  qv::loop::post_quit(0);
  return 0;
}

lua_State* state() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

bool run_lua(const std::string& code) {
  lua_State* L = state();
  const int top = lua_gettop(L);
  if (luaL_loadstring(L, code.c_str()) != 0) {
    std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
    lua_settop(L, top);
    return false;
  }
  const bool ok = QVLRT_LuaCall(L, 0, 0, "bench") == 0;
  lua_settop(L, top);
  return ok;
}

double lua_number(const char* name) {
  lua_State* L = state();
  lua_getglobal(L, name);
  const double v = lua_tonumber(L, -1);
  lua_pop(L, 1);
  return v;
}

// Seconds from the request to the final callback, or a negative value on failure.
double through_manager(std::uint32_t records, std::uint32_t per_frame) {
  const std::string reply = contact_reply(records, per_frame);
  asio::io_context io;
  tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  g_port = acceptor.local_endpoint().port();
  std::thread agent([&] {
    boost::system::error_code ec;
    tcp::socket c = acceptor.accept(ec);
    if (ec) return;
    char header[6];
    asio::read(c, asio::buffer(header), ec);
    asio::write(c, asio::buffer(reply), ec);
    char rest[64];
    while (!ec) c.read_some(asio::buffer(rest), ec);  // until the host closes
  });
  run_lua("collectgarbage('collect') received = 0");
  const auto start = clock_type::now();
  run_lua("bench_m = BenchManager() "
          "bench_m:SendSocketMessage(14, function(kind, status, records) "
          "  if status == 2 then BenchDone() return end "
          "  received = received + #records "
          "end)");
  qv::loop::run();
  const auto end = clock_type::now();
  run_lua("bench_m = nil collectgarbage('collect')");
  agent.join();
  if (lua_number("received") != records) {
    std::fprintf(stderr, "received %.0f of %u records\n", lua_number("received"), records);
    return -1;
  }
  return std::chrono::duration<double>(end - start).count();
}

// The floor: the same batches of tables, built by a plain Lua loop from nothing but the loop index.
double floor_loop(std::uint32_t records, std::uint32_t per_frame) {
  run_lua("collectgarbage('collect')");
  const std::string code =
      "local n, per = " + std::to_string(records) + ", " + std::to_string(per_frame) + " " +
      "local received = 0 "
      "local function deliver(kind, status, records) received = received + #records end "
      "local first = 1 "
      "while first <= n do "
      "  local batch = {} "
      "  for i = first, math.min(first + per - 1, n) do "
      "    batch[#batch + 1] = {ID = tostring(i), Name = 'Contact ' .. i, Number = '+1555' .. (1000000 + i)} "
      "  end "
      "  deliver(5, first == 1 and 0 or 1, batch) "
      "  first = first + per "
      "end "
      "floor_received = received";
  const auto start = clock_type::now();
  run_lua(code);
  const auto end = clock_type::now();
  return std::chrono::duration<double>(end - start).count();
}

// A stricter floor: the strings already exist as Lua strings; the loop only builds the tables.
double floor_prepared(std::uint32_t records, std::uint32_t per_frame) {
  run_lua("collectgarbage('collect') ids, names, numbers = {}, {}, {} "
          "for i = 1, " + std::to_string(records) + " do "
          "  ids[i] = tostring(i) names[i] = 'Contact ' .. i numbers[i] = '+1555' .. (1000000 + i) "
          "end collectgarbage('collect')");
  const std::string code =
      "local n, per = " + std::to_string(records) + ", " + std::to_string(per_frame) + " " +
      "local ids, names, numbers = ids, names, numbers "
      "local received = 0 "
      "local function deliver(kind, status, records) received = received + #records end "
      "local first = 1 "
      "while first <= n do "
      "  local batch, k = {}, 0 "
      "  for i = first, math.min(first + per - 1, n) do "
      "    k = k + 1 batch[k] = {ID = ids[i], Name = names[i], Number = numbers[i]} "
      "  end "
      "  deliver(5, first == 1 and 0 or 1, batch) "
      "  first = first + per "
      "end";
  const auto start = clock_type::now();
  run_lua(code);
  const auto end = clock_type::now();
  run_lua("ids, names, numbers = nil, nil, nil collectgarbage('collect')");
  return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t records = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 100000;
  const std::uint32_t per_frame = argc > 2 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1000;
  // Finished requests are released through the process's message window, as in the program.
  auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
  if (!mw || !mw->Create(L"TivorelMessageWnd")) return 1;
  QVLRT_ENV env = QVLRT_GetEnv(0);
  device::RegisterSocketManagerClass(env);
  lua_register(state(), "BenchManager", bench_manager);
  lua_register(state(), "BenchDone", bench_done);
  device::set_log_sink([](const std::string&) {});

  std::printf("floor: the same tables built by a Lua loop that makes the strings; strict floor: from\n"
              "Lua strings made beforehand (only the tables are built in the timed loop)\n\n");
  std::printf("records  per_frame  manager_s  manager_rec/s  floor_s  ratio  strict_floor_s  strict_ratio\n");
  double first_time = 0;
  int rc = 0;
  for (std::uint32_t n : {records, records * 10}) {
    through_manager(n / 10 > 0 ? n / 10 : 1, per_frame);  // warm-up
    const double t = through_manager(n, per_frame);
    const double f = floor_loop(n, per_frame);
    const double p = floor_prepared(n, per_frame);
    if (t < 0) {
      rc = 1;
      break;
    }
    std::printf("%7u  %9u  %9.3f  %13.0f  %7.3f  %5.2f  %14.3f  %12.2f\n", n, per_frame, t, n / t, f, t / f, p,
                t / p);
    if (first_time == 0) {
      first_time = t;
    } else {
      std::printf("10x the records took %.2fx as long\n", t / first_time);
    }
  }
  mw->Destroy();
  qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  return rc;
}
