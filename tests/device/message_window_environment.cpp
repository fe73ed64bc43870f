// The process's message window, as start-up creates it: finished requests are released through it.
#include <gtest/gtest.h>

#include "hostbase/message_window.h"
#include "qv/singleton_ex.h"

namespace {

class message_window_environment : public ::testing::Environment {
 public:
  void SetUp() override {
    auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
    ASSERT_TRUE(mw && mw->Create(L"TivorelMessageWnd"));
  }
  void TearDown() override {
    if (auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance()) mw->Destroy();
    qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  }
};

// gtest owns registered environments.
const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new message_window_environment);

}  // namespace
