// The "ipconfig /all" listing read for the machine identifier.
#include "fuzz_check.h"
#include "qv/text.h"
#include "store/mac_reader.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = qv::text::utf8_to_wide(reinterpret_cast<const char*>(data), size);
  auto records = store::parse_ipconfig(text);
  for (const auto& r : records) {
    FUZZ_CHECK(r.name.size() <= store::kAdapterNameMax);
    FUZZ_CHECK(r.description.size() <= store::kAdapterDescriptionMax);
    for (std::size_t i = 6; i < r.address.size(); ++i) FUZZ_CHECK(r.address[i] == 0);
  }
  store::filter_adapters(records);
  return 0;
}
