// The adapter reader: the filter, the ipconfig parser, the order of sources, the real machine,
// and the machine identifier against an MD5 computed by other means.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "independent_md5.h"
#include "qv/md5.h"
#include "store/data_report.h"
#include "store/mac_reader.h"

namespace {

using namespace store;

adapter_record rec(std::initializer_list<std::uint8_t> address, const wchar_t* description = L"",
                   bool virt = false) {
  adapter_record r;
  std::copy(address.begin(), address.end(), r.address.begin());
  r.description = description;
  r.virtual_interface = virt;
  return r;
}

std::vector<std::wstring> descriptions(const std::vector<adapter_record>& v) {
  std::vector<std::wstring> out;
  for (const auto& r : v) out.push_back(r.description);
  return out;
}

TEST(AdapterFilter, SetsAsideVirtualAndDialUpWhenOthersRemain) {
  std::vector<adapter_record> v = {
      rec({0x00, 0x50, 0x56, 1, 2, 3}, L"VMware Virtual Ethernet Adapter for VMnet8"),
      rec({0x00, 0x1C, 0x42, 1, 2, 3}, L"Intel(R) Ethernet A"),
      rec({'D', 'E', 'S', 'T', 0x12, 0x34}, L"DEST"),
      rec({0x00, 'S', 'E', 1, 2, 3}, L"0SE"),
      rec({}, L"all zero"),
      rec({0x02, 0x00, 'R', 'A', 'S', 0x01}, L"RAS at 2"),
      rec({0x02, 0x00, 0x00, 0x00, 0x00, 'R', 'A', 'S'}, L"RAS at 5"),
      rec({0x20, 0x41, 0x53, 0x59, 0x4E, 0xFF}, L"WAN (PPP/SLIP) Interface"),
      rec({0x02, 0x42, 0xAC, 0x11, 0, 2}, L"bridge (docker0)", true),
      rec({0x00, 0x1C, 0x42, 9, 9, 9}, L"Intel(R) Ethernet B"),
      rec({0x0A, 'R', 'A', 0x53 + 1, 0, 0}, L"almost RAS"),
  };
  filter_adapters(v);
  EXPECT_EQ((std::vector<std::wstring>{L"Intel(R) Ethernet A", L"Intel(R) Ethernet B", L"almost RAS"}),
            descriptions(v));
}

TEST(AdapterFilter, KeepsEverythingWhenNothingElseRemains) {
  std::vector<adapter_record> v = {
      rec({0x00, 0x50, 0x56, 1, 2, 3}, L"VMware Network Adapter VMnet1"),
      rec({0x02, 0x42, 0xAC, 0x11, 0, 2}, L"veth (veth1)", true),
  };
  filter_adapters(v);
  EXPECT_EQ(2u, v.size());
  std::vector<adapter_record> none;
  filter_adapters(none);
  EXPECT_TRUE(none.empty());
}

const wchar_t kIpconfig[] =
    L"\r\nWindows IP Configuration\r\n\r\n"
    L"   Host Name . . . . . . . . . . . . : PC\r\n"
    L"   Physical Address. . . . . . . . . : 11-11-11-11-11-11\r\n"  // before any Description
    L"\r\nEthernet adapter Local Area Connection:\r\n\r\n"
    L"   Connection-specific DNS Suffix  . : lan\r\n"
    L"   Description . . . . . . . . . . . : Realtek PCIe GBE Family Controller\r\n"
    L"   Physical Address. . . . . . . . . : 00-1C-42-AB-cd-EF\r\n"
    L"   DHCP Enabled. . . . . . . . . . . : Yes\r\n"
    L"   Link-local IPv6 Address . . . . . : fe80::1%11(Preferred)\r\n"
    L"\r\nTunnel adapter isatap:\r\n\r\n"
    L"   Description . . . . . . . . . . . : Microsoft ISATAP Adapter\r\n"
    L"   Physical Address. . . . . . . . . : 00-00-00-00-00-00-00-E0\r\n"
    L"   Physical Address. . . . . . . . . : 22-22-22-22-22-22\r\n"  // description already used
    L"\nWireless LAN adapter Wi-Fi:\n"
    L"   Description . . . . . . . . . . . : Intel(R) Wi-Fi 6 AX201\n"
    L"   Physical Address. . . . . . . . . : 7C-B2-7D-00-00-01";

TEST(IpconfigParser, Listing) {
  const auto v = parse_ipconfig(kIpconfig);
  ASSERT_EQ(2u, v.size());
  EXPECT_EQ(L"Realtek PCIe GBE Family Controller", v[0].description);
  EXPECT_EQ((std::array<std::uint8_t, 8>{0x00, 0x1C, 0x42, 0xAB, 0xCD, 0xEF, 0, 0}), v[0].address);
  EXPECT_EQ(L"Intel(R) Wi-Fi 6 AX201", v[1].description);
  EXPECT_EQ((std::array<std::uint8_t, 8>{0x7C, 0xB2, 0x7D, 0x00, 0x00, 0x01, 0, 0}), v[1].address);
}

TEST(IpconfigParser, LinesThatAddNothing) {
  const wchar_t* cases[] = {
      L"",
      L"   Physical Address. . . : 00-1C-42-AB-CD-EF\r\n   Description . . . : Late\r\n",
      L"   Description . . . : A\r\n   Physical Address. . . : 00-1C-42-AB-CD\r\n",
      L"   Description . . . : A\r\n   Physical Address. . . : 00:1C:42:AB:CD:EF\r\n",
      L"   Description . . . : A\r\n   Physical Address. . . : 00-1C-42-AB-CD-EG\r\n",
      L"   Description . . . : A\r\n   Physical Address. . . : 001-C42-AB-CD-EF-0\r\n",
  };
  for (const wchar_t* c : cases) EXPECT_TRUE(parse_ipconfig(c).empty()) << c;
}

TEST(IpconfigParser, LongDescriptionIsCut) {
  const std::wstring text = L"Description: " + std::wstring(300, L'd') +
                            L"\rPhysical Address: 00-1C-42-AB-CD-EF\r";
  const auto v = parse_ipconfig(text);
  ASSERT_EQ(1u, v.size());
  EXPECT_EQ(kAdapterDescriptionMax, v[0].description.size());
}

TEST(MacReader, SourcesInOrderUntilOneLeavesAdapters) {
  std::vector<int> tried;
  auto source = [&tried](int n, bool ok, std::vector<adapter_record> records) {
    return [&tried, n, ok, records](std::vector<adapter_record>& out) {
      tried.push_back(n);
      out = records;
      return ok;
    };
  };
  CMACReaderEx reader({
      source(1, false, {rec({1, 2, 3, 4, 5, 6}, L"failed source")}),
      source(2, true, {}),
      source(3, true, {rec({0x00, 0x50, 0x56, 1}, L"VMware"), rec({0, 0x1C, 0x42, 7}, L"real")}),
      source(4, true, {rec({9, 9, 9, 9, 9, 9}, L"never read")}),
  });
  ASSERT_TRUE(reader.read_adapters());
  EXPECT_EQ((std::vector<int>{1, 2, 3}), tried);
  adapter_record r;
  ASSERT_TRUE(reader.next_adapter(r));
  EXPECT_EQ(L"real", r.description);
  EXPECT_FALSE(reader.next_adapter(r));

  CMACReaderEx empty({source(5, false, {}), source(6, true, {})});
  EXPECT_FALSE(empty.read_adapters());
  EXPECT_EQ("", MachineIdentifier(empty));
}

TEST(MachineIdentifier, IsTheMd5OfTheFirstAddress) {
  CMACReaderEx reader({[](std::vector<adapter_record>& out) {
    out = {rec({0x00, 0x1C, 0x42, 0xAB, 0xCD, 0xEF}, L"first"), rec({1, 2, 3, 4, 5, 6}, L"second")};
    return true;
  }});
  const std::string id = MachineIdentifier(reader);
  const std::string bytes("\x00\x1C\x42\xAB\xCD\xEF\x00\x00", 8);
  EXPECT_EQ(catalogue_test::independent_md5_hex(bytes), id);
  CLuaDataReport report(reader);
  EXPECT_EQ(id, report.machine_id());
}

TEST(Md5, KnownAnswersAndAnIndependentImplementation) {
  // RFC 1321, appendix A.5.
  const struct {
    std::string in, hex;
  } rfc[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : rfc) EXPECT_EQ(c.hex, qv::md5_hex(c.in)) << c.in;
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<char>(i * 7 + 3));
  EXPECT_EQ(catalogue_test::independent_md5_hex(bytes), qv::md5_hex(bytes));
}

TEST(MachineIdentifier, RealMachine) {
  // The machine's own adapters: either some are found and the identifier is their first
  // address's digest, or none and the identifier is empty.
  CMACReaderEx reader;
  const bool found = reader.read_adapters();
  CLuaDataReport report;
  const std::string& id = report.machine_id();
  if (!found) {
    EXPECT_EQ("", id);
    return;
  }
  adapter_record first;
  ASSERT_TRUE(reader.next_adapter(first));
  ASSERT_EQ(32u, id.size());
  for (char c : id) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << id;
  EXPECT_EQ(catalogue_test::independent_md5_hex(
                std::string(reinterpret_cast<const char*>(first.address.data()), 8)),
            id);
  ::testing::Test::RecordProperty("adapters", static_cast<int>(reader.adapters().size()));
}

}  // namespace
