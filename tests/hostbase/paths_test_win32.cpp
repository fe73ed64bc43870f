#include <gtest/gtest.h>

#include "hostbase/path_manager.h"

// The system's temporary path belongs to the user already; the program's folder is below it.
TEST(PathManagerWindows, TempDirIsTivorelUnderTheSystemTemporaryPath) {
  EXPECT_EQ(hostbase::GetSystemTempDir() + L"Tivorel\\", hostbase::GetTempDirectory());
}
