#include "desktop/text_tools.h"

#include "qv/codepage.h"
#include "qv/text.h"

namespace desktop {
namespace {

std::string to_cp936(const std::string& utf8) {
  return qv::codepage::utf16_to_cp936(qv::text::utf8_to_utf16(utf8.data(), utf8.size()));
}

// Area codes where each initial's first-level characters begin.
struct Boundary {
  int area;
  char letter;
};
constexpr Boundary kFirstLevel[] = {
    {1601, 'A'}, {1637, 'B'}, {1833, 'C'}, {2078, 'D'}, {2274, 'E'}, {2302, 'F'},
    {2433, 'G'}, {2594, 'H'}, {2787, 'J'}, {3106, 'K'}, {3212, 'L'}, {3472, 'M'},
    {3635, 'N'}, {3722, 'O'}, {3730, 'P'}, {3858, 'Q'}, {4027, 'R'}, {4086, 'S'},
    {4390, 'T'}, {4558, 'W'}, {4684, 'X'}, {4925, 'Y'}, {5249, 'Z'},
};

}  // namespace

std::string URLDecode(const std::string& text) { return qv::text::percent_decode(text); }

std::size_t Cp936ByteCount(const std::string& utf8) { return to_cp936(utf8).size(); }

std::string PinyinInitialsCp936(const std::string& text) {
  std::string out;
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const int first = static_cast<unsigned char>(text[i]);
    // The pair's second byte; a lone last byte has none and passes unchanged.
    const int second = i + 1 < n ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (first <= 160 || second <= 160) {
      out.push_back(text[i]);
      ++i;
      continue;
    }
    const int area = (first - 160) * 100 + (second - 160);
    if (area >= 1601 && area <= 5589) {
      char letter = 'A';
      for (const Boundary& b : kFirstLevel)
        if (area >= b.area) letter = b.letter;
      out.push_back(letter);
    } else {
      const int index = first * 94 + second - 20465;
      if (index >= 0 && index < static_cast<int>(kSecondLevelCount)) {
        out.push_back(kSecondLevelInitials[index]);
      } else {
        out.push_back(text[i]);
        out.push_back(text[i + 1]);
      }
    }
    i += 2;
  }
  return out;
}

std::string ConvertChinese(const std::string& utf8) {
  const std::string initials = PinyinInitialsCp936(to_cp936(utf8));
  return qv::text::utf16_to_utf8(qv::codepage::cp936_to_utf16(initials));
}

}  // namespace desktop
