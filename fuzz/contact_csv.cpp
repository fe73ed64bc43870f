// Contact CSV files the user hands in, in any of the encodings the reader guesses.
// Property: contacts written by the CSV writer read back as they were.
#include "desktop/contacts.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto contacts = desktop::ParseContactCsv(bytes);
  if (!contacts) return 0;
  // Round trip of what was read (ASCII only: the writer's code page cannot hold every text).
  std::vector<std::vector<std::u16string>> rows;
  std::vector<desktop::Contact> ascii;
  for (const auto& c : *contacts) {
    bool plain = true;
    for (char16_t ch : c.name + c.number) plain = plain && ch >= 0x20 && ch < 0x7F;
    if (!plain) continue;
    ascii.push_back(c);
    rows.push_back({c.name, c.number});
  }
  const std::string csv = desktop::FormatContactCsv({u"First Name", u"Mobile Phone"}, rows);
  const auto again = desktop::ParseContactCsv(csv);
  FUZZ_CHECK(again);
  FUZZ_CHECK(*again == ascii);
  return 0;
}
