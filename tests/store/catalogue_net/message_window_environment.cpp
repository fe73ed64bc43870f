// The process's message window, as start-up creates it: resolved URLs come back through it.
#include <gtest/gtest.h>

#include "hostbase/message_window.h"
#include "qv/singleton_ex.h"

namespace {

using window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>;

class message_window_environment : public ::testing::Environment {
 public:
  void SetUp() override {
    auto* mw = window::acquire();
    ASSERT_TRUE(mw && mw->Create(L"TivorelMessageWnd"));
  }
  void TearDown() override {
    if (auto* mw = window::instance()) mw->Destroy();
    window::release();
  }
};

const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new message_window_environment);

}  // namespace
