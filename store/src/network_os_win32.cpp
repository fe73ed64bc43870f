// Windows: adapters from the IP helper, NetBIOS and "ipconfig /all"; URL resolution with WinINet.
#include "network_os.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <nb30.h>
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace store::os {
namespace {

std::wstring from_ansi(const char* s, std::size_t n) {
  if (n == 0) return {};
  const int len = MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(n), nullptr, 0);
  if (len <= 0) return {};
  std::wstring w(static_cast<std::size_t>(len), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(n), &w[0], len);
  return w;
}

std::wstring from_ansi_z(const char* s, std::size_t cap) {
  return from_ansi(s, strnlen(s, cap));
}

struct module_closer {
  void operator()(HMODULE m) const { FreeLibrary(m); }
};
using module_ptr = std::unique_ptr<std::remove_pointer<HMODULE>::type, module_closer>;

struct handle_closer {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using handle_ptr = std::unique_ptr<void, handle_closer>;

// Source 1: the IP helper's adapter list, one record per address entry of each adapter.
bool read_adapters_info(std::vector<adapter_record>& out) {
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  module_ptr lib(LoadLibraryW((std::wstring(dir) + L"\\iphlpapi.dll").c_str()));
  if (!lib) return false;
  using get_adapters_info_fn = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);
  auto fn = reinterpret_cast<get_adapters_info_fn>(
      reinterpret_cast<void*>(GetProcAddress(lib.get(), "GetAdaptersInfo")));
  if (!fn) return false;
  ULONG size = 0;
  if (fn(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return false;
  std::vector<unsigned char> buffer(size);
  auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (fn(info, &size) != ERROR_SUCCESS) return false;
  for (const IP_ADAPTER_INFO* a = info; a; a = a->Next) {
    for (const IP_ADDR_STRING* ip = &a->IpAddressList; ip; ip = ip->Next) {
      adapter_record r;
      const std::size_t len = std::min<std::size_t>(a->AddressLength, r.address.size());
      std::copy(a->Address, a->Address + len, r.address.begin());
      r.name = from_ansi_z(a->AdapterName, sizeof a->AdapterName).substr(0, kAdapterNameMax);
      r.description =
          from_ansi_z(a->Description, sizeof a->Description).substr(0, kAdapterDescriptionMax);
      r.type = static_cast<std::int32_t>(a->Type);
      out.push_back(std::move(r));
    }
  }
  return true;
}

// Source 2: NetBIOS adapter status of every LAN adapter number.
bool read_netbios(std::vector<adapter_record>& out) {
  LANA_ENUM lanas{};
  NCB ncb{};
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
  ncb.ncb_length = sizeof lanas;
  if (Netbios(&ncb) != NRC_GOODRET) return false;
  for (UCHAR i = 0; i < lanas.length && i < MAX_LANA + 1; ++i) {
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = lanas.lana[i];
    if (Netbios(&reset) != NRC_GOODRET) continue;
    struct {
      ADAPTER_STATUS status;
      NAME_BUFFER names[30];
    } astat{};
    NCB query{};
    query.ncb_command = NCBASTAT;
    query.ncb_lana_num = lanas.lana[i];
    std::memset(query.ncb_callname, ' ', NCBNAMSZ);
    query.ncb_callname[0] = '*';
    query.ncb_buffer = reinterpret_cast<PUCHAR>(&astat);
    query.ncb_length = sizeof astat;
    if (Netbios(&query) != NRC_GOODRET) continue;
    adapter_record r;
    std::copy(astat.status.adapter_address, astat.status.adapter_address + 6, r.address.begin());
    out.push_back(std::move(r));
  }
  return true;
}

// Source 3: the text of "ipconfig /all", started hidden with its output on a pipe.
bool read_ipconfig(std::vector<adapter_record>& out) {
  constexpr std::size_t kMaxOutput = 1u << 20;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE rd = nullptr, wr = nullptr;
  if (!CreatePipe(&rd, &wr, &sa, 0)) return false;
  handle_ptr read_end(rd), write_end(wr);
  SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = nullptr;
  si.hStdOutput = wr;
  si.hStdError = wr;
  PROCESS_INFORMATION pi{};
  // By its full path in the system folder: a bare name is looked for in the program's folder and
  // the current folder first, where anyone may have put a program of that name.
  wchar_t system_dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system_dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  const std::wstring program = std::wstring(system_dir, n) + L"\\ipconfig.exe";
  std::wstring line = L"\"" + program + L"\" /all";
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return false;
  handle_ptr process(pi.hProcess), thread(pi.hThread);
  write_end.reset();  // the child holds the only write end: end of output = end of the pipe
  std::string text;
  char block[1024];
  DWORD got = 0;
  while (ReadFile(rd, block, sizeof block, &got, nullptr) && got > 0) {
    if (text.size() + got > kMaxOutput) break;
    text.append(block, got);
  }
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  // Converted as a whole, so a character is never split between two blocks.
  const std::vector<adapter_record> records = parse_ipconfig(from_ansi(text.data(), text.size()));
  out.insert(out.end(), records.begin(), records.end());
  return true;
}

}  // namespace

// WinINet's synchronous request cannot be ended from another thread everywhere (Wine keeps
// waiting for the server), so an abandoned request finishes or times out by itself.
void prepare_url_opening() {}

void wait_at_exit(void (*)()) {}

std::wstring open_final_url(const std::wstring& url, const std::atomic<bool>&) {
  HINTERNET root = InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!root) return {};
  std::wstring result;
  if (HINTERNET h = InternetOpenUrlW(root, url.c_str(), nullptr, 0,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)) {
    DWORD bytes = 0;
    InternetQueryOptionW(h, INTERNET_OPTION_URL, nullptr, &bytes);
    if (bytes > 0 && bytes < (1u << 20)) {
      std::wstring buf(bytes / sizeof(wchar_t) + 1, L'\0');
      DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
      if (InternetQueryOptionW(h, INTERNET_OPTION_URL, &buf[0], &size)) result.assign(buf.c_str());
    }
    InternetCloseHandle(h);
  }
  InternetCloseHandle(root);
  return result;
}

std::vector<adapter_source> adapter_sources() {
  return {&read_adapters_info, &read_netbios, &read_ipconfig};
}

}  // namespace store::os
