// The machine's network adapters with their hardware addresses, for the machine identifier.
// Each system offers one or more sources, tried in order until one yields adapters; virtual and
// dial-up adapters are set aside unless nothing else remains.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace store {

struct adapter_record {
  std::array<std::uint8_t, 8> address{};  // hardware address, remaining bytes zero
  std::wstring name;                       // at most 256 characters
  std::wstring description;                // at most 128 characters
  std::int32_t type = 0;
  // Set by readers that can tell a software interface (bridge, veth, tun/tap, container
  // network) from hardware; such records are set aside like virtual-machine adapters.
  bool virtual_interface = false;
};

constexpr std::size_t kAdapterNameMax = 256;
constexpr std::size_t kAdapterDescriptionMax = 128;

// A source fills the list; false when it failed as a whole.
using adapter_source = std::function<bool(std::vector<adapter_record>&)>;

// Drops the records that look virtual or dial-up, keeping the others in order; when every record
// would go, all stay.
void filter_adapters(std::vector<adapter_record>& records);

// The records of an "ipconfig /all" listing: each "Physical Address" line with six two-digit
// hexadecimal groups joined by "-" that follows a "Description" line gives one record with that
// description. Lines are split at carriage returns and line feeds.
std::vector<adapter_record> parse_ipconfig(const std::wstring& text);

class CMACReaderEx {
 public:
  // The sources of this system, in order.
  CMACReaderEx();
  explicit CMACReaderEx(std::vector<adapter_source> sources);

  // Tries the sources in order, filtering each one's list, and stops at the first that leaves
  // adapters. True when at least one adapter remains.
  bool read_adapters();
  // The next record in order; false at the end.
  bool next_adapter(adapter_record& out);

  const std::vector<adapter_record>& adapters() const { return records_; }

 private:
  std::vector<adapter_source> sources_;
  std::vector<adapter_record> records_;
  std::size_t cursor_ = 0;
};

// 32 lowercase hexadecimal digits: the MD5 of the first adapter's 8 address bytes; empty when
// the reader finds no adapter.
std::string MachineIdentifier(CMACReaderEx& reader);

}  // namespace store
