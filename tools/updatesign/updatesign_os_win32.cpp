#include "updatesign_os.h"

#include <windows.h>

#include <bcrypt.h>
#include <shellapi.h>

namespace updatesign::os {

std::vector<std::u16string> Arguments(int, char**) {
  std::vector<std::u16string> out;
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return out;
  for (int i = 1; i < count; ++i) {
    std::u16string a;
    for (const wchar_t* w = args[i]; *w; ++w) a.push_back(static_cast<char16_t>(*w));
    out.push_back(std::move(a));
  }
  LocalFree(args);
  return out;
}

bool RandomBytes(void* out, std::size_t size) {
  return size <= 0xFFFFFFFFu &&
         BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

// The file takes the folder's permissions: keep the key in a folder of your own profile.
bool WriteNewPrivateFile(const std::filesystem::path& file, const std::string& bytes) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  ok = CloseHandle(h) && ok;
  if (!ok) DeleteFileW(file.c_str());
  return ok;
}

}  // namespace updatesign::os
