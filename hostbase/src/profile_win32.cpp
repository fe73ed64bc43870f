#include "hostbase/profile.h"

#include <windows.h>

#include <vector>

namespace hostbase {

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& def_value, const std::wstring& file,
                               std::size_t max_chars) {
  std::vector<wchar_t> buf(max_chars + 1, L'\0');
  DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), def_value.c_str(), buf.data(),
                                     static_cast<DWORD>(buf.size()), file.c_str());
  return std::wstring(buf.data(), n);
}

bool WriteProfileEntry(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& file) {
  return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
         0;
}

}  // namespace hostbase
