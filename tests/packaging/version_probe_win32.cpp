// Windows test helper: what Windows itself reads of a program's version, and what a program
// prints into the console it was started from.
//   version_probe resource FILE        the version resource: "Name=value" lines
//   version_probe console PROGRAM [ARGS...]
//       starts PROGRAM in a fresh console of this process, with no standard handles of its own,
//       and prints the text the console then shows; the exit code is PROGRAM's
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

// Written to the standard output this process was given, which stays where it was when the
// process changes consoles.
void emit(HANDLE out, const std::string& text) {
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int resource(HANDLE out, const std::wstring& file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) {
    emit(out, "no version resource\n");
    return 1;
  }
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return 1;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed) {
    char line[128];
    std::snprintf(line, sizeof line, "FixedFileVersion=%lu.%lu.%lu.%lu\n",
                  fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
                  fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
    emit(out, line);
    std::snprintf(line, sizeof line, "FixedProductVersion=%lu.%lu.%lu.%lu\n",
                  fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF,
                  fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
    emit(out, line);
  }
  // The strings of the first translation the resource lists.
  struct translation {
    WORD language, code_page;
  }* tr = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr),
                      &len) ||
      len < sizeof *tr)
    return 1;
  wchar_t block[64];
  std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", tr->language, tr->code_page);
  for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                              L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    wchar_t* value = nullptr;
    if (VerQueryValueW(data.data(), (std::wstring(block) + name).c_str(),
                       reinterpret_cast<void**>(&value), &len) && value)
      emit(out, narrow(name) + "=" + narrow(std::wstring(value, len ? len - 1 : 0)) + "\n");
  }
  return 0;
}

int console(HANDLE out, const std::wstring& command_line) {
  FreeConsole();
  if (!AllocConsole()) {
    emit(out, "no console\n");
    return 1;
  }
  HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (screen == INVALID_HANDLE_VALUE) return 1;
  // No handle is inherited and the standard ones are empty, as Windows starts a GUI program
  // from a console: the program finds only the console it was started from.
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION pi{};
  std::wstring line = command_line;
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    CloseHandle(screen);
    emit(out, "cannot start the program\n");
    return 1;
  }
  CloseHandle(pi.hThread);
  DWORD code = 1;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  else
    TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hProcess);

  CONSOLE_SCREEN_BUFFER_INFO info{};
  std::string text;
  if (GetConsoleScreenBufferInfo(screen, &info)) {
    const SHORT width = info.dwSize.X;
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
      std::wstring row(static_cast<std::size_t>(width), L' ');
      DWORD read = 0;
      ReadConsoleOutputCharacterW(screen, &row[0], static_cast<DWORD>(width), COORD{0, y}, &read);
      row.resize(read);
      while (!row.empty() && row.back() == L' ') row.pop_back();
      if (y < info.dwCursorPosition.Y || !row.empty()) text += narrow(row) + "\n";
    }
  }
  CloseHandle(screen);
  emit(out, text);
  return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const std::wstring mode = argc > 2 ? argv[1] : L"";
  if (mode == L"resource" && argc == 3) return resource(out, argv[2]);
  if (mode == L"console") {
    // The rest of this process's own command line, as it was written.
    std::wstring rest = GetCommandLineW();
    const std::size_t at = rest.find(L" console ");
    if (at != std::wstring::npos) return console(out, rest.substr(at + 9));
  }
  emit(out, "usage: version_probe resource FILE | console PROGRAM [ARGS...]\n");
  return 2;
}
