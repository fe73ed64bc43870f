// The scrambled container reader over any bytes, and the writer's output read back.
#include "fuzz_check.h"
#include "qv/scrambled_container.h"

#include <array>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string doc = qv::container::ReadScrambledDocument(data, size);
  FUZZ_CHECK(doc.size() <= qv::container::kMaxScrambledDocumentSize);
  if (size >= 4) {
    // Whatever the reader accepted, the writer stores again so that it reads back the same.
    const std::array<std::uint8_t, 4> key{data[0], data[1], data[2], data[3]};
    const auto again = qv::container::WriteScrambledDocument(doc, key);
    FUZZ_CHECK(qv::container::ReadScrambledDocument(again) == doc);
  }
  return 0;
}
