// DISPIDs come from one counter for the whole process that starts at 10. This binary registers
// nothing else, so its first name is the process's first.
#include "dispatch_page.h"

using namespace dispatch_test;

TEST(LuaDispatchIds, OneCounterForTheProcessFromTen) {
  register_objects();
  ASSERT_EQ(run("first = LuaDispatchFactory:CreateLuaDispatch() "
                "second = LuaDispatchFactory:CreateLuaDispatch() "
                "first:RegisterFunction('a', function() end) "
                "first:RegisterFunction('b', 'not a function') "
                "first:RegisterFunction('a', function() end) "
                "second:RegisterFunction('a', function() end) "
                "second:RegisterFunction('c', function() end) "
                "first:RegisterFunction('c', function() end) "
                "result = 'ok'"),
            "ok");
  com_ptr<IDispatch> first = page_of("first:GetDispatch()");
  com_ptr<IDispatch> second = page_of("second:GetDispatch()");
  EXPECT_EQ(id_of(first.get(), u"a"), 10);
  EXPECT_EQ(id_of(first.get(), u"b"), 11);  // a name without a function gets its DISPID too
  EXPECT_EQ(id_of(second.get(), u"a"), 12);
  EXPECT_EQ(id_of(second.get(), u"c"), 13);
  EXPECT_EQ(id_of(first.get(), u"c"), 14);
  DISPID id = 0;
  EXPECT_EQ(ids_of(second.get(), u"b", &id), E_FAIL);  // b belongs to the first object only
  run("first, second = nil, nil; collectgarbage('collect')");
}
