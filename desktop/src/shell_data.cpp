#include "desktop/shell_data.h"

#include "qv/text.h"

namespace desktop {
namespace {

std::uint32_t u32_at(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_u32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

char16_t unit_at(const unsigned char* p) {
  return static_cast<char16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::vector<unsigned char> BuildDropFiles(const std::vector<std::u16string>& names) {
  std::size_t size = kDropFilesHeaderSize + 2;
  for (const auto& n : names) size += 2 * n.size() + 2;
  std::vector<unsigned char> block(size, 0);
  put_u32(block, 0, static_cast<std::uint32_t>(kDropFilesHeaderSize));
  put_u32(block, 16, 1);  // fWide
  std::size_t at = kDropFilesHeaderSize;
  for (const auto& n : names) {
    for (char16_t u : n) {
      block[at++] = static_cast<unsigned char>(u & 0xFF);
      block[at++] = static_cast<unsigned char>(u >> 8);
    }
    at += 2;  // the name's NUL; the list's comes from the zero fill
  }
  return block;
}

bool ParseDropFiles(const unsigned char* data, std::size_t size,
                    std::vector<std::u16string>& names) {
  names.clear();
  if (!data || size < kDropFilesHeaderSize) return false;
  const std::uint32_t offset = u32_at(data);
  const bool wide = u32_at(data + 16) != 0;
  if (offset < kDropFilesHeaderSize || offset >= size) return false;
  std::vector<std::u16string> found;
  std::size_t at = offset;
  const std::size_t unit = wide ? 2 : 1;
  for (;;) {
    // Find this name's NUL inside the block.
    std::size_t end = at;
    while (end + unit <= size && (wide ? unit_at(data + end) != 0 : data[end] != 0)) end += unit;
    if (end + unit > size) return false;  // the name or the list's end runs past the block
    if (end == at) break;                 // the empty name ends the list
    if (wide) {
      std::u16string name;
      name.reserve((end - at) / 2);
      for (std::size_t i = at; i < end; i += 2) name += unit_at(data + i);
      found.push_back(std::move(name));
    } else {
      found.push_back(qv::text::utf8_to_utf16(reinterpret_cast<const char*>(data + at), end - at));
    }
    at = end + unit;
  }
  names = std::move(found);
  return true;
}

std::vector<std::u16string> ClipboardFileNames(const unsigned char* data, std::size_t size) {
  std::vector<std::u16string> all, names;
  if (!ParseDropFiles(data, size, all)) return names;
  for (auto& n : all)
    if (n.size() < kClipboardNameBuffer) names.push_back(std::move(n));
  return names;
}

std::u16string UnicodeTextFromBlock(const unsigned char* data, std::size_t size) {
  std::u16string text;
  if (!data) return text;
  for (std::size_t i = 0; i + 2 <= size; i += 2) {
    const char16_t u = unit_at(data + i);
    if (u == 0) break;
    text += u;
  }
  return text;
}

std::string NarrowTextFromBlock(const unsigned char* data, std::size_t size) {
  std::string text;
  if (!data) return text;
  std::size_t n = 0;
  while (n < size && data[n] != 0) ++n;
  text.assign(reinterpret_cast<const char*>(data), n);
  return text;
}

std::vector<unsigned char> UnicodeTextBlock(const std::u16string& text) {
  std::vector<unsigned char> block(2 * text.size() + 2, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    block[2 * i] = static_cast<unsigned char>(text[i] & 0xFF);
    block[2 * i + 1] = static_cast<unsigned char>(text[i] >> 8);
  }
  return block;
}

bool DragItemsFromBlock(std::uint16_t format, std::uint16_t link_format, const unsigned char* data,
                        std::size_t size, std::vector<std::u16string>& items,
                        std::uint32_t& effect) {
  if (format == kCfUnicodeText) {
    items.assign(1, UnicodeTextFromBlock(data, size));
    effect = kDropEffectCopy;
    return true;
  }
  if (format == kCfText || (link_format != 0 && format == link_format)) {
    const std::string text = NarrowTextFromBlock(data, size);
    items.assign(1, qv::text::utf8_to_utf16(text));
    effect = format == kCfText ? kDropEffectCopy : kDropEffectLink;
    return true;
  }
  if (format == kCfHdrop) {
    std::vector<std::u16string> names;
    if (!ParseDropFiles(data, size, names)) return false;
    items = std::move(names);
    effect = kDropEffectLink;
    return true;
  }
  return false;
}

int CutOrCopyType(const unsigned char* effect, std::size_t size) {
  if (effect && size >= 4 && u32_at(effect) == kDropEffectMove) return 2;
  return 5;
}

bool FileListFitsReader(const std::vector<std::u16string>& names) {
  if (names.empty()) return false;
  for (const auto& n : names)
    if (n.size() >= kClipboardNameBuffer) return false;
  return true;
}

std::u16string TrayTip(const std::u16string& text) {
  constexpr std::size_t kTipUnits = 127;
  if (text.size() <= kTipUnits) return text;
  std::size_t n = kTipUnits;
  if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;  // keep pairs whole
  return text.substr(0, n);
}

}  // namespace desktop
