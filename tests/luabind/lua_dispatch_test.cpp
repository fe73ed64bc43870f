// LuaDispatch driven from both ends: Lua registers functions through "LuaDispatchFactory" and
// "LuaDispatch.Class", the test calls them through IDispatch as a page would.
#include "dispatch_page.h"

#include "variant_lua.h"

#include <cmath>
#include <cstdint>
#include <ostream>
#include <thread>

using namespace dispatch_test;

namespace {

class LuaDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    register_objects();
    ASSERT_EQ(run("d = LuaDispatchFactory:CreateLuaDispatch() "
                  "log = {} "
                  "function logger(name, answer) "
                  "  return function(...) "
                  "    local parts = {name} "
                  "    for i = 1, select('#', ...) do parts[#parts + 1] = tostring((select(i, ...))) end "
                  "    log[#log + 1] = table.concat(parts, ':') "
                  "    return answer "
                  "  end "
                  "end "
                  "result = 'ok'"),
              "ok");
    page = page_of("d:GetDispatch()");
    ASSERT_TRUE(page);
  }
  void TearDown() override {
    page.reset();
    run("d, log, logger = nil, nil, nil; collectgarbage('collect')");
  }

  std::string calls() { return run("result = table.concat(log, ' ')"); }

  // Calls the name with no arguments; its result variant in *result.
  HRESULT call(const std::u16string& name, VARIANT* result) {
    std::vector<variant> none;
    return invoke(page.get(), id_of(page.get(), name), none, result);
  }

  com_ptr<IDispatch> page;
};

TEST_F(LuaDispatchTest, FunctionsOfOneNameRunInOrderAndTheLastResultAnswers) {
  EXPECT_EQ(run("result = d:RegisterFunction('n', logger('one', 1)) .. "
                "d:RegisterFunction('n', logger('two', 'second')) .. "
                "d:RegisterFunction('other', logger('other', 3))"),
            "121");  // cookies count per name
  variant result;
  EXPECT_EQ(call(u"n", result.get()), S_OK);
  EXPECT_EQ(calls(), "one two");
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(units_of(*result.get()), u"second");
}

TEST_F(LuaDispatchTest, ArgumentsArriveInTheAutomationArraysOrder) {
  run("d:RegisterFunction('f', logger('f'))");
  // A script's f(1, 2, 'x') is the array [x, 2, 1]: the last argument first.
  std::vector<variant> args;
  args.push_back(v_str(u"x"));
  args.push_back(v_i4(2));
  args.push_back(v_i4(1));
  EXPECT_EQ(invoke(page.get(), id_of(page.get(), u"f"), args, nullptr), S_OK);
  EXPECT_EQ(calls(), "f:x:2:1");
}

// ---- page values to Lua ---------------------------------------------------------------------

struct to_lua_case {
  const char* name;
  variant (*make)();
  const char* lua;  // type(x) '=' tostring(x) '#' its length, as the function sees x
};

std::ostream& operator<<(std::ostream& os, const to_lua_case& c) { return os << c.name; }

variant typed(VARTYPE vt, void (*fill)(VARIANT*)) {
  variant v;
  fill(v.get());
  v->vt = vt;  // after the value: a DECIMAL overlaps the type field
  return v;
}

const to_lua_case kToLua[] = {
    {"I2", [] { return typed(VT_I2, [](VARIANT* v) { v->iVal = -7; }); }, "number=-7#2"},
    {"I4", [] { return typed(VT_I4, [](VARIANT* v) { v->lVal = 123456; }); }, "number=123456#6"},
    {"R4", [] { return typed(VT_R4, [](VARIANT* v) { v->fltVal = 1.5f; }); }, "number=1.5#3"},
    {"R8", [] { return typed(VT_R8, [](VARIANT* v) { v->dblVal = -2.25; }); }, "number=-2.25#5"},
    {"CY", [] { return typed(VT_CY, [](VARIANT* v) { v->cyVal.int64 = 12345; }); },
     "number=1.2345#6"},
    {"DECIMAL",
     [] {
       return typed(VT_DECIMAL, [](VARIANT* v) {
         v->decVal.Hi32 = 0;
         v->decVal.Lo64 = 12345;
         v->decVal.scale = 2;
         v->decVal.sign = DECIMAL_NEG;
       });
     },
     "number=-123.45#7"},
    {"I1", [] { return typed(VT_I1, [](VARIANT* v) { v->cVal = -5; }); }, "number=-5#2"},
    {"UI1", [] { return typed(VT_UI1, [](VARIANT* v) { v->bVal = 200; }); }, "number=200#3"},
    {"UI2", [] { return typed(VT_UI2, [](VARIANT* v) { v->uiVal = 65535; }); },
     "number=65535#5"},
    {"UI4", [] { return typed(VT_UI4, [](VARIANT* v) { v->ulVal = 4000000000u; }); },
     "number=4000000000#10"},
    {"INT", [] { return typed(VT_INT, [](VARIANT* v) { v->intVal = -9; }); }, "number=-9#2"},
    {"UINT", [] { return typed(VT_UINT, [](VARIANT* v) { v->uintVal = 7; }); }, "number=7#1"},
    {"BSTR non-ASCII", [] { return v_str(u"h\u00e9 \u20ac \U0001F600"); },
     "string=h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80#12"},
    {"BSTR with a 0 unit", [] { return v_str(std::u16string(u"a\0b", 3)); },
     "string=a<0>b#3"},
    {"BSTR null", [] { return typed(VT_BSTR, [](VARIANT* v) { v->bstrVal = nullptr; }); },
     "string=#0"},
    {"BOOL true", [] { return v_bool(VARIANT_TRUE); }, "boolean=true#4"},
    {"BOOL other non-zero", [] { return v_bool(1); }, "boolean=true#4"},
    {"BOOL false", [] { return v_bool(VARIANT_FALSE); }, "boolean=false#5"},
};

class ToLua : public LuaDispatchTest, public ::testing::WithParamInterface<to_lua_case> {};

TEST_P(ToLua, ValueReachesLua) {
  run("d:RegisterFunction('f', function(x) "
      "  local s = tostring(x) "
      "  log[#log + 1] = type(x) .. '=' .. s:gsub('%z', '<0>') .. '#' .. #s "
      "end)");
  std::vector<variant> args;
  args.push_back(GetParam().make());
  EXPECT_EQ(invoke(page.get(), id_of(page.get(), u"f"), args, nullptr), S_OK);
  EXPECT_EQ(calls(), GetParam().lua);
}

INSTANTIATE_TEST_SUITE_P(Types, ToLua, ::testing::ValuesIn(kToLua));

struct refused_case {
  const char* name;
  variant (*make)();
};

std::ostream& operator<<(std::ostream& os, const refused_case& c) { return os << c.name; }

LONG g_by_reference = 5;

const refused_case kRefused[] = {
    {"EMPTY", [] { return variant(); }},
    {"NULL", [] { return typed(VT_NULL, [](VARIANT*) {}); }},
    {"DISPATCH", [] { return typed(VT_DISPATCH, [](VARIANT* v) { v->pdispVal = nullptr; }); }},
    {"UNKNOWN", [] { return typed(VT_UNKNOWN, [](VARIANT* v) { v->punkVal = nullptr; }); }},
    {"I8", [] { return typed(VT_I8, [](VARIANT* v) { v->llVal = 1; }); }},
    {"UI8", [] { return typed(VT_UI8, [](VARIANT* v) { v->ullVal = 1; }); }},
    {"DATE", [] { return typed(VT_DATE, [](VARIANT* v) { v->date = 1; }); }},
    {"ERROR", [] { return typed(VT_ERROR, [](VARIANT* v) { v->lVal = 0; }); }},
    {"I4 by reference",
     [] { return typed(VT_I4 | VT_BYREF, [](VARIANT* v) { v->byref = &g_by_reference; }); }},
    {"DECIMAL scale 29",
     [] {
       return typed(VT_DECIMAL, [](VARIANT* v) {
         v->decVal.Lo64 = 1;
         v->decVal.scale = 29;
       });
     }},
};

class Refused : public LuaDispatchTest, public ::testing::WithParamInterface<refused_case> {};

TEST_P(Refused, ArgumentWithoutConversionFailsAndCallsNothing) {
  run("d:RegisterFunction('f', logger('first', 1)) d:RegisterFunction('f', logger('second', 2))");
  std::vector<variant> args;
  args.push_back(v_i4(1));
  args.push_back(GetParam().make());  // not the first element: the whole array is refused
  variant result;
  result->vt = VT_I4;
  result->lVal = 77;
  EXPECT_EQ(invoke(page.get(), id_of(page.get(), u"f"), args, result.get()), E_FAIL);
  EXPECT_EQ(calls(), "");
  EXPECT_EQ(result->vt, VT_I4);
  EXPECT_EQ(result->lVal, 77);
}

INSTANTIATE_TEST_SUITE_P(Types, Refused, ::testing::ValuesIn(kRefused));

TEST_F(LuaDispatchTest, ObjectArgumentFailsAndCallsNothing) {
  // A page handing over an object of its own, here the dispatch itself.
  run("d:RegisterFunction('f', logger('f', 1))");
  std::vector<variant> args;
  args.emplace_back();
  args[0]->vt = VT_DISPATCH;
  args[0]->pdispVal = com_ptr<IDispatch>(page).detach();  // the variant's own reference
  variant result;
  EXPECT_EQ(invoke(page.get(), id_of(page.get(), u"f"), args, result.get()), E_FAIL);
  EXPECT_EQ(calls(), "");
  EXPECT_EQ(result->vt, VT_EMPTY);
}

// ---- Lua results to the page ----------------------------------------------------------------

struct result_case {
  const char* name;
  const char* lua;  // the function's return expression
  HRESULT hr;
  VARTYPE vt;       // of the page's result (VT_I4 77 = left as it was)
  double number;    // VT_R8 value, or VT_BOOL value (-1 or 0)
  const char16_t* text;
};

std::ostream& operator<<(std::ostream& os, const result_case& c) { return os << c.name; }

const result_case kResults[] = {
    {"true", "true", S_OK, VT_BOOL, -1, nullptr},
    {"false", "false", S_OK, VT_BOOL, 0, nullptr},
    {"integer", "3", S_OK, VT_R8, 3, nullptr},
    {"fraction", "-0.125", S_OK, VT_R8, -0.125, nullptr},
    {"non-ASCII string", "'\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80'", S_OK, VT_BSTR, 0,
     u"\u00fc\u20ac\U0001F600"},
    {"empty string", "''", S_OK, VT_BSTR, 0, u""},
    {"nil leaves the result", "nil", S_OK, VT_I4, 77, nullptr},
    {"nothing leaves the result", "", S_OK, VT_I4, 77, nullptr},
    {"a table fails", "{}", E_FAIL, VT_I4, 77, nullptr},
    {"a function fails", "print", E_FAIL, VT_I4, 77, nullptr},
    {"an object fails", "d", E_FAIL, VT_I4, 77, nullptr},
};

class ToPage : public LuaDispatchTest, public ::testing::WithParamInterface<result_case> {};

TEST_P(ToPage, ResultReachesThePage) {
  const result_case& c = GetParam();
  run(std::string("d:RegisterFunction('f', function() return ") + c.lua + " end)");
  variant result;
  result->vt = VT_I4;
  result->lVal = 77;
  EXPECT_EQ(call(u"f", result.get()), c.hr);
  ASSERT_EQ(result->vt, c.vt);
  if (c.vt == VT_R8) {
    EXPECT_EQ(result->dblVal, c.number);
  }
  if (c.vt == VT_BOOL) {
    EXPECT_EQ(result->boolVal, static_cast<VARIANT_BOOL>(c.number));
  }
  if (c.vt == VT_BSTR) {
    ASSERT_NE(result->bstrVal, nullptr);
    EXPECT_EQ(units_of(*result.get()), c.text);
  }
  if (c.vt == VT_I4) {
    EXPECT_EQ(result->lVal, 77);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, ToPage, ::testing::ValuesIn(kResults));

TEST_F(LuaDispatchTest, ResultReplacesWhatThePageHeldAndALaterNilKeepsTheEarlierOne) {
  run("d:RegisterFunction('f', logger('a', 'first')) d:RegisterFunction('f', logger('b'))");
  variant result = v_str(u"the page's old string");  // cleared by the call, not leaked
  EXPECT_EQ(call(u"f", result.get()), S_OK);
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(units_of(*result.get()), u"first");
}

TEST_F(LuaDispatchTest, ResultThatFailsStopsTheLaterFunctions) {
  run("d:RegisterFunction('f', logger('a', 1)) d:RegisterFunction('f', logger('b', {})) "
      "d:RegisterFunction('f', logger('c', 3))");
  variant result;
  EXPECT_EQ(call(u"f", result.get()), E_FAIL);
  EXPECT_EQ(calls(), "a b");
  EXPECT_EQ(result->vt, VT_EMPTY);
}

TEST_F(LuaDispatchTest, WithoutAResultVariantNoResultIsConverted) {
  run("d:RegisterFunction('f', logger('a', {})) d:RegisterFunction('f', logger('b', print))");
  EXPECT_EQ(call(u"f", nullptr), S_OK);
  EXPECT_EQ(calls(), "a b");
}

TEST_F(LuaDispatchTest, LuaErrorInAFunctionGivesNoResultAndTheOthersStillRun) {
  run("d:RegisterFunction('f', logger('a', 'from a')) "
      "d:RegisterFunction('f', function() error('raised on purpose by the test') end) "
      "d:RegisterFunction('f', logger('c')) "
      "d:RegisterFunction('g', function() local t = nil; return t.field end)");
  variant result;
  EXPECT_EQ(call(u"f", result.get()), S_OK);
  EXPECT_EQ(calls(), "a c");
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(units_of(*result.get()), u"from a");
  variant untouched;
  EXPECT_EQ(call(u"g", untouched.get()), S_OK);
  EXPECT_EQ(untouched->vt, VT_EMPTY);
  EXPECT_EQ(run("result = tostring(#log)"), "2");  // the Lua state is usable afterwards
}

// ---- registering and unregistering ----------------------------------------------------------

TEST_F(LuaDispatchTest, UnregisterWithoutCookieRemovesEveryFunctionOfTheName) {
  run("d:RegisterFunction('n', logger('n1', 1)) d:RegisterFunction('n', logger('n2', 2)) "
      "d:RegisterFunction('m', logger('m', 3))");
  const DISPID n = id_of(page.get(), u"n");
  EXPECT_EQ(run("result = select('#', d:UnregisterFunction('n'))"), "0");
  variant result;
  result->vt = VT_I4;
  result->lVal = 77;
  std::vector<variant> none;
  EXPECT_EQ(invoke(page.get(), n, none, result.get()), S_OK);
  EXPECT_EQ(result->vt, VT_I4);  // left as it was
  EXPECT_EQ(calls(), "");
  EXPECT_EQ(id_of(page.get(), u"n"), n);  // the name keeps its DISPID
  EXPECT_EQ(call(u"m", nullptr), S_OK);
  EXPECT_EQ(calls(), "m");
  // Cookies of the name go on counting after the removal.
  EXPECT_EQ(run("result = d:RegisterFunction('n', logger('n3'))"), "3");
  EXPECT_EQ(call(u"n", nullptr), S_OK);
  EXPECT_EQ(calls(), "m n3");
}

TEST_F(LuaDispatchTest, UnregisterWithACookieRemovesThatFunctionOnly) {
  run("a = d:RegisterFunction('n', logger('a')) b = d:RegisterFunction('n', logger('b')) "
      "c = d:RegisterFunction('n', logger('c')) d:RegisterFunction('m', logger('m')) "
      "d:UnregisterFunction('n', b) "
      "d:UnregisterFunction('n', b) "       // twice: nothing more
      "d:UnregisterFunction('m', a) "       // cookie 1 of "m" is m itself: removed
      "d:UnregisterFunction('n', 99) "      // no such cookie
      "d:UnregisterFunction('n', -1) "      // no cookie of ours, not 'all'
      "d:UnregisterFunction('n', 2^40) "
      "d:UnregisterFunction('unknown', 1)");
  EXPECT_EQ(call(u"n", nullptr), S_OK);
  EXPECT_EQ(call(u"m", nullptr), S_OK);
  EXPECT_EQ(calls(), "a c");
  run("d:UnregisterFunction('n', nil)");  // nil is no cookie: all go
  EXPECT_EQ(call(u"n", nullptr), S_OK);
  EXPECT_EQ(calls(), "a c");
  run("d:RegisterFunction('n', logger('e')) d:UnregisterFunction('n', 0)");  // 0 as well
  EXPECT_EQ(call(u"n", nullptr), S_OK);
  EXPECT_EQ(calls(), "a c");
}

TEST_F(LuaDispatchTest, NonFunctionRegistrationGivesCookieZeroAndADispid) {
  EXPECT_EQ(run("result = d:RegisterFunction('x', 5) .. d:RegisterFunction('y') .. "
                "d:RegisterFunction('z', {})"),
            "000");
  const DISPID x = id_of(page.get(), u"x");
  EXPECT_NE(x, DISPID_UNKNOWN);
  EXPECT_NE(id_of(page.get(), u"y"), x);
  variant result;
  EXPECT_EQ(call(u"x", result.get()), S_OK);
  EXPECT_EQ(result->vt, VT_EMPTY);
  EXPECT_EQ(run("result = d:RegisterFunction('x', logger('x', true))"), "1");
  EXPECT_EQ(id_of(page.get(), u"x"), x);
  EXPECT_EQ(call(u"x", result.get()), S_OK);
  EXPECT_EQ(result->vt, VT_BOOL);
  EXPECT_EQ(calls(), "x");
}

TEST_F(LuaDispatchTest, NamesAreUtf8InLuaAndUtf16ForThePage) {
  run("d:RegisterFunction('gr\xc3\xbc\xc3\x9f\xf0\x9f\x98\x80', logger('u', 1))");
  EXPECT_EQ(call(u"gr\u00fc\u00df\U0001F600", nullptr), S_OK);
  EXPECT_EQ(calls(), "u");
}

TEST_F(LuaDispatchTest, FunctionMayUnregisterItsNameWhileCalled) {
  run("d:RegisterFunction('n', function() log[#log + 1] = 'a'; d:UnregisterFunction('n') end) "
      "d:RegisterFunction('n', logger('b'))");
  EXPECT_EQ(call(u"n", nullptr), S_OK);
  EXPECT_EQ(call(u"n", nullptr), S_OK);
  EXPECT_EQ(calls(), "a");
}

// ---- the page's errors ----------------------------------------------------------------------

TEST_F(LuaDispatchTest, UnknownNamesHaveNoDispid) {
  run("d:RegisterFunction('add', logger('add')) "
      "other = LuaDispatchFactory:CreateLuaDispatch() other:RegisterFunction('sub', print)");
  const struct {
    const char16_t* name;
  } kUnknown[] = {{u"never"}, {u"Add"}, {u"ad"}, {u""}, {u"sub"}};  // sub: another object's
  for (const auto& c : kUnknown) {
    DISPID id = 1234;
    EXPECT_EQ(ids_of(page.get(), c.name, &id), E_FAIL);
    EXPECT_EQ(id, DISPID_UNKNOWN);
  }
  // Only the first name is looked up; the others (named arguments) get DISPID_UNKNOWN.
  std::basic_string<OLECHAR> add(u"add", u"add" + 3), x(u"x", u"x" + 1);
  LPOLESTR two[] = {&add[0], &x[0]};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(page->GetIDsOfNames(IID_NULL, two, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], id_of(page.get(), u"add"));
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(page->GetIDsOfNames(IID_NULL, two, 0, 0, ids), E_INVALIDARG);
  EXPECT_EQ(page->GetIDsOfNames(IID_NULL, nullptr, 1, 0, ids), E_INVALIDARG);
  EXPECT_EQ(page->GetIDsOfNames(IID_NULL, two, 1, 0, nullptr), E_INVALIDARG);
  run("other = nil");
}

TEST_F(LuaDispatchTest, InvokeWithAnUnknownDispidFails) {
  run("d:RegisterFunction('f', logger('f', 1)) "
      "other = LuaDispatchFactory:CreateLuaDispatch() other:RegisterFunction('g', print)");
  const DISPID f = id_of(page.get(), u"f");
  const DISPID g = id_of(page_of("other:GetDispatch()").get(), u"g");
  for (DISPID id : {DISPID{0}, DISPID{-1}, DISPID{9}, g, f + 100000}) {
    variant result;
    result->vt = VT_I4;
    result->lVal = 77;
    std::vector<variant> none;
    EXPECT_EQ(invoke(page.get(), id, none, result.get()), E_FAIL) << id;
    EXPECT_EQ(result->lVal, 77);
  }
  EXPECT_EQ(calls(), "");
  // A call without its parameter block is refused rather than read.
  EXPECT_EQ(page->Invoke(f, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS missing{nullptr, nullptr, 2, 0};
  EXPECT_EQ(page->Invoke(f, IID_NULL, 0, DISPATCH_METHOD, &missing, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(calls(), "");
  run("other = nil");
}

TEST_F(LuaDispatchTest, ManyArgumentsReachLuaUpToItsStackLimit) {
  run("d:RegisterFunction('count', function(...) "
      "  local sum = 0 for i = 1, select('#', ...) do sum = sum + select(i, ...) end "
      "  return select('#', ...) * 1000000 + sum end)");
  std::vector<variant> args;
  for (int i = 1; i <= 500; ++i) args.push_back(v_i4(i));
  variant result;
  EXPECT_EQ(invoke(page.get(), id_of(page.get(), u"count"), args, result.get()), S_OK);
  ASSERT_EQ(result->vt, VT_R8);
  EXPECT_EQ(result->dblVal, 500 * 1000000.0 + 500 * 501 / 2);
  // Beyond what Lua's stack takes: refused before anything is read or called.
  run("d:RegisterFunction('f', logger('f'))");
  const DISPID f = id_of(page.get(), u"f");
  std::vector<variant> too_many(9000);
  for (variant& v : too_many) v = v_i4(1);
  EXPECT_EQ(invoke(page.get(), f, too_many, nullptr), E_FAIL);
  VARIANT one;
  VariantInit(&one);
  DISPPARAMS lying{&one, nullptr, 0x80000000u, 0};  // claims far more than it holds
  EXPECT_EQ(page->Invoke(f, IID_NULL, 0, DISPATCH_METHOD, &lying, nullptr, nullptr, nullptr),
            E_FAIL);
  EXPECT_EQ(calls(), "");
}

TEST_F(LuaDispatchTest, CallsFromAnotherThreadAreRefusedWithoutTouchingLua) {
  run("d:RegisterFunction('f', logger('f', 1))");
  const DISPID f = id_of(page.get(), u"f");
  HRESULT invoked = S_OK, looked_up = S_OK;
  DISPID id = 0;
  std::thread worker([&] {
    std::vector<variant> none;
    invoked = invoke(page.get(), f, none, nullptr);
    looked_up = ids_of(page.get(), u"f", &id);
  });
  worker.join();
  EXPECT_EQ(invoked, RPC_E_WRONG_THREAD);
  EXPECT_EQ(looked_up, RPC_E_WRONG_THREAD);
  EXPECT_EQ(calls(), "");
}

// ---- COM identity and lifetime --------------------------------------------------------------

TEST_F(LuaDispatchTest, AnswersIUnknownAndIDispatchOnly) {
  void* out = nullptr;
  ASSERT_EQ(page->QueryInterface(IID_IDispatch, &out), S_OK);
  EXPECT_EQ(out, page.get());
  com_ptr<IDispatch>::adopt(static_cast<IDispatch*>(out));
  ASSERT_EQ(page->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<IUnknown*>(page.get()));
  com_ptr<IUnknown>::adopt(static_cast<IUnknown*>(out));
  out = page.get();
  EXPECT_EQ(page->QueryInterface(IID_NULL, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(page->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
  UINT count = 5;
  EXPECT_EQ(page->GetTypeInfoCount(&count), E_NOTIMPL);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(page->GetTypeInfo(0, 0, &info), E_NOTIMPL);
  EXPECT_EQ(info, nullptr);
  // GetDispatch takes no reference: the same pointer each time, another for another object.
  EXPECT_EQ(run("result = tostring(d:GetDispatch() == d:GetDispatch()) .. "
                "tostring(d:GetDispatch() == LuaDispatchFactory:CreateLuaDispatch():GetDispatch())"),
            "truefalse");
}

TEST_F(LuaDispatchTest, PageKeepsTheObjectAliveAndItsLastReleaseLetsTheFunctionsGo) {
  run("weak = setmetatable({}, {__mode = 'v'}) "
      "local f = logger('f', 'alive') weak[1] = f "
      "d:RegisterFunction('f', f) "
      "d = nil collectgarbage('collect') collectgarbage('collect')");
  variant result;
  EXPECT_EQ(call(u"f", result.get()), S_OK);  // the Lua object is gone, the page's reference not
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(units_of(*result.get()), u"alive");
  EXPECT_EQ(run("collectgarbage('collect') result = tostring(weak[1] ~= nil)"), "true");
  page.reset();
  EXPECT_EQ(run("collectgarbage('collect') result = tostring(weak[1] ~= nil)"), "false");
}

TEST_F(LuaDispatchTest, FunctionMayDropTheLastReferenceDuringTheCall) {
  // Here the Lua object holds the only reference (the caller keeps a bare pointer): collecting
  // it inside the call must not end the object under the call's feet.
  run("d:RegisterFunction('f', function() d = nil collectgarbage('collect') return 'done' end) "
      "d:RegisterFunction('f', logger('after'))");
  IDispatch* bare = page.get();
  const DISPID f = id_of(bare, u"f");
  page.reset();
  std::vector<variant> none;
  variant result;
  EXPECT_EQ(invoke(bare, f, none, result.get()), S_OK);
  ASSERT_EQ(result->vt, VT_BSTR);
  EXPECT_EQ(units_of(*result.get()), u"done");
  EXPECT_EQ(calls(), "after");
}

// ---- the Lua surface ------------------------------------------------------------------------

TEST_F(LuaDispatchTest, FireEventAndDetachEventReturnNothingAndCallNoLuaFunction) {
  run("d:RegisterFunction('e', logger('e', 1))");
  EXPECT_EQ(run("result = select('#', d:FireEvent('e')) .. select('#', d:FireEvent('e', 1, 'x', true)) "
                ".. select('#', d:FireEvent('e', 1, nil, {})) "   // stops at the nil
                ".. select('#', d:FireEvent('e', {})) "           // no conversion: nothing
                ".. select('#', d:DetachEvent('e')) .. select('#', d:DetachEvent('none'))"),
            "000000");
  EXPECT_EQ(calls(), "");
  EXPECT_EQ(run("result = tostring(pcall(d.FireEvent, d)) .. tostring(pcall(d.DetachEvent, d))"),
            "falsefalse");  // the name is required
  EXPECT_EQ(call(u"e", nullptr), S_OK);  // DetachEvent left the Lua functions alone
  EXPECT_EQ(calls(), "e");
}

TEST_F(LuaDispatchTest, MethodsCheckTheirObject) {
  EXPECT_EQ(run("result = tostring(pcall(d.RegisterFunction, 'f', print)) .. "
                "tostring(pcall(d.GetDispatch)) .. "
                "tostring(pcall(LuaDispatchFactory.CreateLuaDispatch)) .. "
                "tostring(pcall(d.RegisterFunction, d)) .. "         // no name
                "tostring(pcall(d.UnregisterFunction, d, 'f', 'x'))"),  // a cookie not a number
            "falsefalsefalsefalsefalse");
  EXPECT_EQ(run("result = type(LuaDispatchFactory:CreateLuaDispatch())"), "userdata");
}

// ---- the conversions on their own -----------------------------------------------------------

TEST(VariantConversion, LuaValuesWithoutAVariantAreRefused) {
  lua_State* L = lua();
  const int top = lua_gettop(L);
  lua_pushnil(L);
  lua_newtable(L);
  lua_pushlightuserdata(L, nullptr);
  for (int i = top + 1; i <= top + 3; ++i) {
    variant v;
    EXPECT_FALSE(LuaToVariant(L, i, &v));
    EXPECT_EQ(v->vt, VT_EMPTY);
  }
  variant absent;
  EXPECT_FALSE(LuaToVariant(L, top + 4, &absent));
  lua_settop(L, top);
}

}  // namespace
