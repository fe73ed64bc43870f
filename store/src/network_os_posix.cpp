// Linux: adapters from getifaddrs (packet family) with sysfs facts; URL resolution with libcurl.
#include "network_os.h"

#include <curl/curl.h>

#include <cstdlib>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "qv/text.h"
#include "sysfs_net.h"

namespace store::os {
namespace {

std::string link_target(const std::string& path) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool read_interfaces(std::vector<adapter_record>& out) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET || !i->ifa_name) continue;
    if (i->ifa_flags & IFF_LOOPBACK) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
    adapter_record r;
    const std::size_t n = std::min<std::size_t>(ll->sll_halen, r.address.size());
    std::copy(ll->sll_addr, ll->sll_addr + n, r.address.begin());
    const std::string name = i->ifa_name;
    const std::string sys = "/sys/class/net/" + name;
    r.virtual_interface = sysfs_is_virtual(sys);
    r.name = qv::text::utf8_to_wide(name).substr(0, kAdapterNameMax);
    r.description = qv::text::utf8_to_wide(sysfs_description(name, sys, r.virtual_interface))
                        .substr(0, kAdapterDescriptionMax);
    // The adapter types of the Windows adapter list: 71 wireless, 6 Ethernet, 1 other.
    r.type = exists(sys + "/wireless") ? 71 : ll->sll_hatype == ARPHRD_ETHER ? 6 : 1;
    out.push_back(std::move(r));
  }
  ::freeifaddrs(list);
  return true;
}

size_t stop_at_body(char*, size_t, size_t, void*) { return 0; }

int on_progress(void* abandoned, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(abandoned)->load() ? 1 : 0;
}

}  // namespace

bool sysfs_is_virtual(const std::string& dir) {
  if (link_target(dir).find("devices/virtual/") != std::string::npos) return true;
  return !exists(dir + "/device");
}

std::string sysfs_description(const std::string& name, const std::string& dir, bool is_virtual) {
  std::string d;
  const std::string driver = link_target(dir + "/device/driver");
  if (!driver.empty()) d = driver.substr(driver.find_last_of('/') + 1);
  if (exists(dir + "/bridge"))
    d = "bridge";
  else if (exists(dir + "/tun_flags"))
    d = "tun/tap";
  if (d.empty()) d = is_virtual ? "virtual" : "network adapter";
  return d + " (" + name + ")";
}

std::vector<adapter_source> adapter_sources() { return {&read_interfaces}; }

void wait_at_exit(void (*wait)()) { std::atexit(wait); }

void prepare_url_opening() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::wstring open_final_url(const std::wstring& url, const std::atomic<bool>& abandoned) {
  prepare_url_opening();
  std::unique_ptr<CURL, void (*)(CURL*)> h(curl_easy_init(), &curl_easy_cleanup);
  if (!h) return {};
  const std::string u = qv::text::wide_to_utf8(url);
  curl_easy_setopt(h.get(), CURLOPT_URL, u.c_str());
  curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h.get(), CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(h.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT, 60L);
  curl_easy_setopt(h.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h.get(), CURLOPT_LOW_SPEED_TIME, 60L);
  // Only where the URL leads matters: the transfer stops at the first byte of the final body.
  curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, &stop_at_body);
  // An abandoned request ends at curl's next progress call.
  curl_easy_setopt(h.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h.get(), CURLOPT_XFERINFOFUNCTION, &on_progress);
  curl_easy_setopt(h.get(), CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&abandoned));
  const CURLcode rc = curl_easy_perform(h.get());
  if (abandoned.load()) return {};
  if (rc != CURLE_OK && rc != CURLE_WRITE_ERROR) return {};
  char* effective = nullptr;
  if (curl_easy_getinfo(h.get(), CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || !effective)
    return {};
  return qv::text::utf8_to_wide(effective);
}

}  // namespace store::os
