// The device database that travels with the ADB client: on Windows the resource "MYCURSOR" / 101
// of "tivorel_help.exe"; on Linux the same container bytes in "tivorel_help.devdb" beside the
// client. Both give the USB detection the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tiv::android {

// The client's file name in the program folder, and where the Linux port keeps the container.
extern const wchar_t* const kAdbClientFileName;
extern const char* const kDeviceDatabaseFileName;

// The raw container carried by the client in program_dir (a folder path, with or without a
// trailing separator). Empty when the client, its resource or the file is missing or empty.
std::vector<std::uint8_t> LoadDeviceDatabaseContainer(const std::wstring& program_dir);

// The database document (UTF-8 XML): the container unscrambled and its "my.dt" read from
// memory. Empty on any failure.
std::string LoadDeviceDatabaseDocument(const std::wstring& program_dir);

}  // namespace tiv::android
