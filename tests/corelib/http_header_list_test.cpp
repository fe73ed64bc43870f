// The header list's set rule, which request headers from Lua tables go through.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "qv/http_message.h"

using namespace qv::win32::net;

namespace {

using pairs = std::vector<http_header_list::pair>;

struct set_case {
  const char* name;
  pairs before;
  std::string set_name;
  std::string set_value;
  pairs after;
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const set_case& c, std::ostream* os) { *os << c.name; }

class HttpHeaderListSet : public ::testing::TestWithParam<set_case> {};

TEST_P(HttpHeaderListSet, AppliesTheSetRule) {
  const set_case& c = GetParam();
  http_header_list list;
  for (const auto& p : c.before) list.append(p);
  list.set(c.set_name, c.set_value);
  EXPECT_EQ(c.after, list.pairs());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpHeaderListSet,
    ::testing::Values(
        set_case{"NewNameIsAppended", {{"A", "1"}}, "B", "2", {{"A", "1"}, {"B", "2"}}},
        // An empty value on a name not there yet still adds the pair.
        set_case{"NewNameWithEmptyValueIsAppended", {{"A", "1"}}, "B", "", {{"A", "1"}, {"B", ""}}},
        set_case{"EmptyListGetsEmptyValue", {}, "X-Empty", "", {{"X-Empty", ""}}},
        set_case{"PresentNameIsReplacedInPlace",
                 {{"A", "1"}, {"B", "2"}},
                 "A",
                 "3",
                 {{"A", "3"}, {"B", "2"}}},
        set_case{"OnlyTheFirstOfTwoIsReplaced",
                 {{"A", "1"}, {"A", "2"}},
                 "A",
                 "3",
                 {{"A", "3"}, {"A", "2"}}},
        set_case{"EmptyValueRemovesAPresentName", {{"A", "1"}, {"B", "2"}}, "A", "", {{"B", "2"}}},
        set_case{
            "NamesCompareExactly", {{"Host", "a"}}, "host", "", {{"Host", "a"}, {"host", ""}}}),
    [](const ::testing::TestParamInfo<set_case>& info) { return std::string(info.param.name); });

}  // namespace
