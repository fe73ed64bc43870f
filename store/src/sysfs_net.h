// Facts about a Linux network interface from its sysfs folder (/sys/class/net/<name>).
#pragma once

#include <string>

namespace store::os {

// Software interfaces (bridges, veth pairs, tun/tap, container networks) live under
// devices/virtual; hardware ones link to their bus device.
bool sysfs_is_virtual(const std::string& dir);
// "<driver or kind> (<name>)": the bus driver's name, "bridge", "tun/tap", or "virtual".
std::string sysfs_description(const std::string& name, const std::string& dir, bool is_virtual);

}  // namespace store::os
