// What the stock client's output means for each kind of command.
#include <gtest/gtest.h>

#include "android/adb_output.h"

using namespace tiv::android;

TEST(AdbOutput, ResultCodesPerKind) {
  const struct {
    int kind;
    const wchar_t* output;
    int code;
  } cases[] = {
      // install / uninstall: "success" in any case wins over everything after it.
      {kAdbInstall, L"Performing Streamed Install\nSuccess\n", kAdbSuccess},
      {kAdbInstall, L"SUCCESS", kAdbSuccess},
      {kAdbUninstall, L"Success\r\n", kAdbSuccess},
      {kAdbInstall, L"Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]", kAdbInsufficientStorage},
      {kAdbInstall, L"Failure [INSTALL_FAILED_INVALID_APK: split]", kAdbInvalidApk},
      {kAdbInstall,
       L"adb: failed to install a.apk: Failure [INSTALL_FAILED_OLDER_SDK: Requires newer sdk]",
       kAdbOlderSdk},
      {kAdbInstall, L"failure [install_failed_older_sdk]", kAdbOlderSdk},
      {kAdbInstall, L"adb: error: can't find 'x.apk' to install", kAdbCannotFind},
      {kAdbInstall, L"Failure [INSTALL_FAILED_MEDIA_UNAVAILABLE]", kAdbMediaUnavailable},
      {kAdbInstall, L"Failure [INSTALL_FAILED_ALREADY_EXISTS]", kAdbFailure},
      {kAdbInstall, L"error: no devices/emulators found", kAdbFailure},
      {kAdbUninstall, L"Failure [DELETE_FAILED_INTERNAL_ERROR]", kAdbFailure},
      // The first matching row decides, in the table's order.
      {kAdbInstall, L"INSTALL_FAILED_OLDER_SDK then Success", kAdbSuccess},
      {kAdbInstall, L"can't find INSTALL_FAILED_MEDIA_UNAVAILABLE", kAdbCannotFind},
      // activity start / forward: any "error" is a failure.
      {kAdbStartActivity, L"Starting: Intent { act=android.intent.action.MAIN }", kAdbSuccess},
      {kAdbStartActivity, L"Error type 3\nError: Activity class does not exist.", kAdbFailure},
      {kAdbForward, L"adb: error: device 'X' not found", kAdbFailure},
      {kAdbForward, L"12156\n", kAdbSuccess},
      // broadcast: only an answer with result=0 is a success.
      {kAdbBroadcast, L"Broadcasting: Intent { act=openUSBConnect }\nBroadcast completed: result=0",
       kAdbSuccess},
      {kAdbBroadcast, L"Broadcast completed: RESULT=0", kAdbSuccess},
      {kAdbBroadcast, L"Broadcast completed: result=-1", kAdbFailure},
      // Empty output (client missing, or wrote nothing).
      {kAdbInstall, L"", kAdbFailure},
      {kAdbUninstall, L"", kAdbFailure},
      {kAdbStartActivity, L"", kAdbSuccess},
      {kAdbForward, L"", kAdbSuccess},
      {kAdbBroadcast, L"", kAdbFailure},
      // Kinds without a code.
      {kAdbFreeForm, L"Success", 0},
      {kAdbDevices, L"error", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, result_code(c.kind, c.output))
        << "kind " << c.kind << ": " << std::string(c.output, c.output + wcslen(c.output));
  }
}

TEST(AdbOutput, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_TRUE(contains_ignoring_case(L"xSuCcEsSx", L"success"));
  EXPECT_FALSE(contains_ignoring_case(L"", L"a"));
  EXPECT_FALSE(contains_ignoring_case(L"a", L""));
  // Letters outside ASCII are compared as they are, and units past one byte are safe.
  EXPECT_FALSE(contains_ignoring_case(L"\u00C9RROR", L"\u00E9rror"));
  EXPECT_TRUE(contains_ignoring_case(L"\u4E2D\uFFFFERROR", L"error"));
}

TEST(AdbOutput, DeviceList) {
  using list = std::vector<adb_device>;
  const struct {
    const wchar_t* output;
    list expected;
  } cases[] = {
      {L"", {}},
      {L"List of devices attached\n\n", {}},
      {L"List of devices attached\r\n0123456789ABCDEF\tdevice\r\n\r\n",
       {{L"0123456789ABCDEF", L"device"}}},
      // unauthorized is left out, emulators are left out whatever their state, a network
      // device offline stays.
      {L"List of devices attached\n"
       L"R58M123\tunauthorized\n"
       L"emulator-5554\tdevice\n"
       L"emulator-5556\toffline\n"
       L"192.168.1.20:5555\toffline\n"
       L"HT4A1\tdevice usb:1-1 product:x model:Y device:z\n",
       {{L"192.168.1.20:5555", L"offline"}, {L"HT4A1", L"device"}}},
      // The daemon's start-up chatter falls out like the header.
      {L"* daemon not running; starting now at tcp:5037\n* daemon started successfully\n"
       L"List of devices attached\nA1\tdevice\n",
       {{L"A1", L"device"}}},
      // Leading blanks, a missing final newline, one-word lines.
      {L"  A1   device", {{L"A1", L"device"}}},
      {L"lonely\nB2 offline", {{L"B2", L"offline"}}},
      // States are tested as substrings, serials and states are case-sensitive.
      {L"C3\tno-device-here\nD4\tDEVICE\nEmulator-1\tdevice\n",
       {{L"C3", L"no-device-here"}, {L"Emulator-1", L"device"}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, parse_device_list(c.output))
        << std::string(c.output, c.output + wcslen(c.output));
  }
}

TEST(AdbOutput, DeviceListSurvivesLongLinesWithoutASecondWord) {
  // A regular-expression search gives up on such lines by throwing, which ended the program.
  const std::wstring output = L"List of devices attached\n" + std::wstring(300000, L'\xFFFD') +
                              L"\n" + std::wstring(1000, L'x') + L"\t\t" + L"\nZX1\tdevice\n  " +
                              std::wstring(5000, L'y') + L" offline";
  EXPECT_EQ(parse_device_list(output),
            (std::vector<adb_device>{{L"ZX1", L"device"}, {std::wstring(5000, L'y'), L"offline"}}));
}
