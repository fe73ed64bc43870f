// The desktop services' log lines and the engine's errors go to the one "engine.log" of the
// program's temporary folder.
#include "desktop/log.h"
#include "hostbase/path_manager.h"
#include "test_files.h"

#include "qv/path.h"
#include "qv/text.h"
#include "qv_engine.h"

#include <gtest/gtest.h>

#include <string>

TEST(DesktopLog, GoesToTheEngineLogInTheProgramsTemporaryFolder) {
  const std::wstring dir = hostbase::GetTempDirectory();
  ASSERT_FALSE(dir.empty());
  const std::wstring log = qv::path::to_native(dir + L"engine.log");
  EXPECT_EQ(log, qv::text::utf8_to_wide(QVLRT_GetLogPath()));
  desktop::LogLine("desktop log marker 5150");
  const std::string text = tiv_test_files::ReadFile(qv::path::to_fs_path(log));
  EXPECT_NE(text.find("desktop log marker 5150"), std::string::npos);
}
