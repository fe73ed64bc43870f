// The argument layer: the one number-to-integer rule, the defaults of opt_*, strings as bytes,
// the errors of check_*, and Lua errors unwinding C++ frames.
#include "luabind/args.h"
#include "luabind/number_text.h"

#include <gtest/gtest.h>
#include <lualib.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "luabind/registration.h"

using namespace luabind;

namespace {

// ---- to_integer ------------------------------------------------------------------------------

struct int_case {
  const char* name;
  lua_Number in;
  std::int32_t i32;
  std::int64_t i64;
  std::uint32_t u32;
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const int_case& c, std::ostream* os) { *os << c.name; }

constexpr std::int32_t kI32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kI32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::uint32_t kU32Max = std::numeric_limits<std::uint32_t>::max();
const lua_Number kInf = std::numeric_limits<lua_Number>::infinity();

class ToInteger : public ::testing::TestWithParam<int_case> {};

TEST_P(ToInteger, ClampsCutsAndZeroesNaN) {
  const int_case& c = GetParam();
  EXPECT_EQ(c.i32, to_integer<std::int32_t>(c.in));
  EXPECT_EQ(c.i64, to_integer<std::int64_t>(c.in));
  EXPECT_EQ(c.u32, to_integer<std::uint32_t>(c.in));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToInteger,
    ::testing::Values(int_case{"Zero", 0.0, 0, 0, 0}, int_case{"Small", 42.0, 42, 42, 42},
                      int_case{"NaN", std::nan(""), 0, 0, 0},
                      int_case{"PlusInfinity", kInf, kI32Max, kI64Max, kU32Max},
                      int_case{"MinusInfinity", -kInf, kI32Min, kI64Min, 0},
                      int_case{"PositiveFractionCutsTowardZero", 2.9, 2, 2, 2},
                      int_case{"NegativeFractionCutsTowardZero", -2.9, -2, -2, 0},
                      int_case{"JustBelowOne", 0.999, 0, 0, 0},
                      int_case{"Int32MaxExactly", 2147483647.0, kI32Max, 2147483647LL, 2147483647u},
                      int_case{"Int32MaxPlusOne", 2147483648.0, kI32Max, 2147483648LL, 2147483648u},
                      int_case{"Int32MinExactly", -2147483648.0, kI32Min, -2147483648LL, 0},
                      int_case{"BelowInt32Min", -2147483649.0, kI32Min, -2147483649LL, 0},
                      int_case{"Uint32MaxPlusOne", 4294967296.0, kI32Max, 4294967296LL, kU32Max},
                      int_case{"TwoToThe63", 9223372036854775808.0, kI32Max, kI64Max, kU32Max},
                      int_case{"Huge", 1e300, kI32Max, kI64Max, kU32Max},
                      int_case{"HugeNegative", -1e300, kI32Min, kI64Min, 0}),
    [](const ::testing::TestParamInfo<int_case>& info) { return std::string(info.param.name); });

// ---- reading arguments from a real state -----------------------------------------------------

class Args : public ::testing::Test {
 protected:
  Args() : L(luaL_newstate()) { luaL_openlibs(L); }
  ~Args() override { lua_close(L); }

  // Calls fn with the values the Lua expression list `args` gives; true when it returned, else
  // false with the error message in *error.
  bool call(lua_CFunction fn, const std::string& args, std::string* error = nullptr) {
    lua_pushcfunction(L, fn);
    lua_setglobal(L, "f");
    const std::string code = "f(" + args + ")";
    const int r = luaL_loadstring(L, code.c_str());
    EXPECT_EQ(0, r) << code;
    if (r != 0) return false;
    if (lua_pcall(L, 0, 0, 0) == 0) return true;
    if (error) *error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
    lua_pop(L, 1);
    return false;
  }

  lua_State* const L;
};

// What the functions under test saw, for the test to compare.
struct seen {
  std::string s;
  std::wstring w;
  lua_Number n = 0;
  std::int32_t i = 0;
  bool b = false;
  int top = 0;
} g_seen;

int read_opts(lua_State* L) {
  g_seen.s = opt_string(L, 1, "dflt");
  g_seen.w = opt_wstring(L, 1, L"wide");
  g_seen.n = opt_number(L, 1, 7.5);
  g_seen.i = opt_int<std::int32_t>(L, 1, -3);
  g_seen.b = opt_bool(L, 1, true);
  return 0;
}

struct opt_case {
  const char* name;
  const char* arg;  // Lua expression for argument 1 ("" for none)
  std::string s;
  std::wstring w;
  lua_Number n;
  std::int32_t i;
  bool b;
};

void PrintTo(const opt_case& c, std::ostream* os) { *os << c.name; }

class OptArgs : public Args, public ::testing::WithParamInterface<opt_case> {};

TEST_P(OptArgs, GiveTheValueOrTheDefault) {
  const opt_case& c = GetParam();
  g_seen = {};
  ASSERT_TRUE(call(read_opts, c.arg));
  EXPECT_EQ(c.s, g_seen.s);
  EXPECT_EQ(c.w, g_seen.w);
  EXPECT_EQ(c.n, g_seen.n);
  EXPECT_EQ(c.i, g_seen.i);
  EXPECT_EQ(c.b, g_seen.b);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptArgs,
    ::testing::Values(
        // Absent: every default, the boolean's too.
        opt_case{"None", "", "dflt", L"wide", 7.5, -3, true},
        // nil is present: Lua truth makes it false; everything else defaults.
        opt_case{"Nil", "nil", "dflt", L"wide", 7.5, -3, false},
        opt_case{"Table", "{}", "dflt", L"wide", 7.5, -3, true},
        opt_case{"Function", "print", "dflt", L"wide", 7.5, -3, true},
        opt_case{"False", "false", "dflt", L"wide", 7.5, -3, false},
        opt_case{"Number", "12.75", "12.75", L"12.75", 12.75, 12, true},
        opt_case{"NumericString", "'0x10'", "0x10", L"0x10", 16, 16, true},
        opt_case{"PlainString", "'abc'", "abc", L"abc", 7.5, -3, true},
        opt_case{"HugeNumberClamps", "1e40", "1e+40", L"1e+40", 1e40, kI32Max, true},
        opt_case{"Utf8Decodes", "'\\228\\184\\173'", "\xe4\xb8\xad", L"\u4e2d", 7.5, -3, true}),
    [](const ::testing::TestParamInfo<opt_case>& info) { return std::string(info.param.name); });

// NaN compares unequal to itself (and prints differently per C library): checked apart.
TEST_F(Args, NaNIsANumberThatBecomesTheIntegerZero) {
  g_seen = {};
  ASSERT_TRUE(call(read_opts, "0/0"));
  EXPECT_TRUE(std::isnan(g_seen.n));
  EXPECT_EQ(0, g_seen.i);
}

int read_bytes(lua_State* L) {
  g_seen.s = check_string(L, 1);
  g_seen.w = check_wstring(L, 1);
  push_string(L, g_seen.s);
  lua_setglobal(L, "back");
  return 0;
}

TEST_F(Args, StringsAreBytesWithNulInside) {
  ASSERT_TRUE(call(read_bytes, "'a\\0b\\255'"));
  EXPECT_EQ(std::string("a\0b\xff", 4), g_seen.s);
  EXPECT_EQ(std::wstring(L"a\0b\uFFFD", 4), g_seen.w);  // ill-formed UTF-8 becomes U+FFFD
  ASSERT_EQ(0, luaL_loadstring(L, "return back == 'a\\0b\\255' and #back == 4"));
  ASSERT_EQ(0, lua_pcall(L, 0, 1, 0));
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_pop(L, 1);
}

int number_stays_number(lua_State* L) {
  g_seen.s = check_string(L, 1);
  lua_pushboolean(L, lua_type(L, 1) == LUA_TNUMBER);
  lua_setglobal(L, "still_number");
  return 0;
}

TEST_F(Args, ANumberReadAsStringStaysANumber) {
  ASSERT_TRUE(call(number_stays_number, "5"));
  EXPECT_EQ("5", g_seen.s);
  lua_getglobal(L, "still_number");
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_pop(L, 1);
}

// Window handles come from the engine as light userdata, which Lua code cannot write; the
// table pushes each value from C.
TEST_F(Args, HandlesAreLightUserdataOrNumbers) {
  int object = 0;
  const struct {
    const char* name;
    void (*push)(lua_State*, void*);
    std::uintptr_t want;
  } cases[] = {
      {"light userdata", [](lua_State* s, void* p) { lua_pushlightuserdata(s, p); },
       reinterpret_cast<std::uintptr_t>(&object)},
      {"null light userdata", [](lua_State* s, void*) { lua_pushlightuserdata(s, nullptr); }, 0},
      {"number", [](lua_State* s, void*) { lua_pushnumber(s, 0x10044); }, 0x10044},
      {"numeric string", [](lua_State* s, void*) { lua_pushstring(s, "66"); }, 66},
      {"negative number", [](lua_State* s, void*) { lua_pushnumber(s, -5); }, 0},
      {"nil", [](lua_State* s, void*) { lua_pushnil(s); }, 0},
      {"table", [](lua_State* s, void*) { lua_newtable(s); }, 0},
      {"boolean", [](lua_State* s, void*) { lua_pushboolean(s, 1); }, 0},
  };
  for (const auto& c : cases) {
    c.push(L, &object);
    EXPECT_EQ(c.want, opt_handle(L, -1)) << c.name;
    lua_pop(L, 1);
  }
  EXPECT_EQ(0u, opt_handle(L, lua_gettop(L) + 1)) << "absent";
}

constexpr const char* kObjectClass = "Args.Test.Class";

// The check a case runs, called from one C function so that Lua names it 'f'.
void (*g_check)(lua_State*) = nullptr;
int run_check(lua_State* L) {
  g_check(L);
  return 0;
}

struct check_case {
  const char* name;
  void (*check)(lua_State*);
  const char* args;
  const char* message;  // "" when the call must succeed
};

void PrintTo(const check_case& c, std::ostream* os) { *os << c.name; }

class CheckArgs : public Args, public ::testing::WithParamInterface<check_case> {};

TEST_P(CheckArgs, RaiseTheUsualArgumentError) {
  const check_case& c = GetParam();
  std::string error;
  g_check = c.check;
  const bool ok = call(run_check, c.args, &error);
  if (*c.message == '\0') {
    EXPECT_TRUE(ok) << error;
  } else {
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string::npos, error.find(c.message)) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckArgs,
    ::testing::Values(
        check_case{"StringMissing", [](lua_State* L) { check_string(L, 2); }, "1",
                   "bad argument #2 to 'f' (string expected, got no value)"},
        check_case{"StringGivenTable", [](lua_State* L) { check_string(L, 2); }, "1, {}",
                   "bad argument #2 to 'f' (string expected, got table)"},
        check_case{"StringGivenNumber", [](lua_State* L) { check_string(L, 2); }, "1, 2", ""},
        check_case{"WideStringGivenNil", [](lua_State* L) { check_wstring(L, 1); }, "nil",
                   "bad argument #1 to 'f' (string expected, got nil)"},
        check_case{"NumberGivenWord", [](lua_State* L) { check_number(L, 3); }, "1, 2, 'x'",
                   "bad argument #3 to 'f' (number expected, got string)"},
        check_case{"NumberGivenNumericString", [](lua_State* L) { check_number(L, 3); },
                   "1, 2, '3'", ""},
        check_case{"IntGivenBoolean", [](lua_State* L) { check_int<std::int32_t>(L, 1); }, "true",
                   "bad argument #1 to 'f' (number expected, got boolean)"},
        check_case{"IntGivenHuge", [](lua_State* L) { check_int<std::int32_t>(L, 1); }, "1e300",
                   ""},
        check_case{"FunctionGivenNumber", [](lua_State* L) { check_function(L, 1); }, "1",
                   "bad argument #1 to 'f' (function expected, got number)"},
        check_case{"TableMissing", [](lua_State* L) { check_table(L, 2); }, "{}",
                   "bad argument #2 to 'f' (table expected, got no value)"},
        check_case{"ObjectGivenTable", [](lua_State* L) { check_object<int>(L, kObjectClass); },
                   "{}", "bad argument #1 to 'f' (Args.Test.Class expected, got table)"}),
    [](const ::testing::TestParamInfo<check_case>& info) { return std::string(info.param.name); });

// ---- Lua errors unwind C++ -------------------------------------------------------------------

int g_alive = 0;  // objects of `tracked` not yet destroyed

struct tracked {
  tracked() { ++g_alive; }
  ~tracked() { --g_alive; }
  tracked(const tracked&) = delete;
  tracked& operator=(const tracked&) = delete;
};

// Holds heap memory (a string too long for any small-string buffer and a vector) and then
// raises an argument error on its second argument. Under LeakSanitizer a skipped destructor is
// a reported leak; the counter shows the same in every build.
int hold_then_raise(lua_State* L) {
  const std::string held(4096, 'x');
  std::vector<std::string> list(16, held);
  tracked guard;
  const std::string name = check_string(L, 2);  // raises when argument 2 is missing
  lua_pushinteger(L, static_cast<lua_Integer>(list.size() + name.size()));
  return 1;
}

const QVLRT_METHOD kUnwindMethods[] = {{"HoldThenRaise", hold_then_raise, 0},
                                       {nullptr, nullptr, 0}};

void* unwind_factory(std::uintptr_t) {
  static int object;
  return &object;
}

// Inside the host's own runtime: the error reaches the caller's protected call, the C++ objects
// of the raising frame are destroyed, and the same state keeps serving calls.
TEST(LuaErrors, UnwindCppFramesAndTheStateKeepsRunning) {
  QVLRT_ENV env = QVLRT_GetEnv(0);
  RegisterGlobal(env, "Args.Unwind", "Args.Unwind.Class", kUnwindMethods, unwind_factory);
  lua_State* L = QVLRT_GetLuaState(QVLRT_GetRuntime(env, 0));
  const int top = lua_gettop(L);
  ASSERT_EQ(0, luaL_loadstring(L, R"(
    local o = _G["Args.Unwind"]
    local failures = 0
    for _ = 1, 200 do
      local ok, err = pcall(o.HoldThenRaise, o)
      if ok or not string.find(err, "bad argument #2", 1, true) then failures = failures + 1 end
    end
    unwind_failures = failures
    unwind_result = o:HoldThenRaise("abc")
  )"));
  ASSERT_EQ(0, QVLRT_LuaCall(L, 0, 0, "test"));
  EXPECT_EQ(0, g_alive) << "a destructor was skipped";
  lua_getglobal(L, "unwind_failures");
  EXPECT_EQ(0, lua_tointeger(L, -1));
  lua_getglobal(L, "unwind_result");
  EXPECT_EQ(19, lua_tointeger(L, -1));
  lua_settop(L, top);

  // An error that no Lua pcall catches ends at the runtime's protected call, and the state
  // still answers afterwards.
  ASSERT_EQ(0, luaL_loadstring(L, "local o = _G['Args.Unwind'] o:HoldThenRaise()"));
  EXPECT_NE(0, QVLRT_LuaCall(L, 0, 0, "test"));
  EXPECT_EQ(0, g_alive);
  EXPECT_EQ(top, lua_gettop(L));
  ASSERT_EQ(0, luaL_loadstring(L, "return _G['Args.Unwind']:HoldThenRaise('z')"));
  ASSERT_EQ(0, QVLRT_LuaCall(L, 0, 1, "test"));
  EXPECT_EQ(17, lua_tointeger(L, -1));
  lua_settop(L, top);
}

}  // namespace

namespace {

// The request headers write whole numbers in decimal; reports take a number as Lua writes it.
TEST(NumberText, EachRuleWritesItsOwnText) {
  const struct {
    lua_Number n;
    number_style style;
    const char* text;
  } cases[] = {
      {42, number_style::as_lua, "42"},
      {1e15, number_style::as_lua, "1e+15"},
      {2.5, number_style::as_lua, "2.5"},
      {-0.1, number_style::as_lua, "-0.1"},
      {42, number_style::decimal, "42"},
      {1e15, number_style::decimal, "1000000000000000"},
      {-4294967296.0, number_style::decimal, "-4294967296"},
      {2.5, number_style::decimal, "2.5"},
      {1e300, number_style::decimal, "1e+300"},
  };
  for (const auto& c : cases) EXPECT_EQ(number_text(c.n, c.style), c.text) << c.n;
}

}  // namespace
