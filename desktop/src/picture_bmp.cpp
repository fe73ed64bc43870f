// Windows bitmaps: uncompressed 1, 4, 8, 16, 24 and 32 bits a pixel with the core, info and
// V4/V5 headers, bit-field masks, bottom-up and top-down rows. Run-length compressed bitmaps are
// not read. Written as 24 bits a pixel, or 32 with an alpha mask when the picture has alpha.
#include "picture_codecs.h"

#include <cstring>

namespace desktop::picture {

namespace {

constexpr std::size_t kFileHeader = 14;
constexpr std::uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;

std::uint32_t U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 1])) << 8;
}
std::uint32_t U32(const std::string& b, std::size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

void Put16(std::string& b, std::uint32_t v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// One colour channel described by a bit mask, scaled to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;  // the mask's value range, 0 when the mask is empty

  explicit Channel(std::uint32_t m) : mask(m) {
    if (!m) return;
    while (!(m & 1)) {
      m >>= 1;
      ++shift;
    }
    max = m;  // holes in a mask are taken as part of it
  }
  std::uint8_t Get(std::uint32_t px, std::uint8_t absent) const {
    if (!max) return absent;
    const std::uint64_t v = (px & mask) >> shift;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

}  // namespace

std::optional<Picture> DecodeBmp(const std::string& b) {
  if (b.size() < kFileHeader + 12 || b[0] != 'B' || b[1] != 'M') return std::nullopt;
  const std::uint32_t bits_offset = U32(b, 10);
  const std::uint32_t header = U32(b, kFileHeader);
  if (header > b.size() - kFileHeader) return std::nullopt;
  std::int64_t width, height;
  std::uint32_t bpp, compression = kBiRgb, colours_used = 0;
  std::size_t palette_entry = 4;
  if (header == 12) {  // OS/2 core header: 16-bit sizes, 3-byte palette entries
    width = U16(b, 18);
    height = static_cast<std::int16_t>(U16(b, 20));
    bpp = U16(b, 24);
    palette_entry = 3;
  } else if (header >= 40) {
    width = static_cast<std::int32_t>(U32(b, 18));
    height = static_cast<std::int32_t>(U32(b, 22));
    bpp = U16(b, 28);
    compression = U32(b, 30);
    colours_used = U32(b, 46);
  } else {
    return std::nullopt;
  }
  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (!SizeAllowed(width > 0 ? width : 0, height)) return std::nullopt;

  // Masks: the defaults of each depth, or those that follow a 40-byte header, or those inside a
  // V2 and later header.
  std::uint32_t rmask = 0, gmask = 0, bmask = 0, amask = 0;
  if (bpp == 16) {
    rmask = 0x7C00, gmask = 0x03E0, bmask = 0x001F;
  } else if (bpp == 24 || bpp == 32) {
    rmask = 0xFF0000, gmask = 0x00FF00, bmask = 0x0000FF;  // 32-bit: the fourth byte is unused
  } else if (bpp != 1 && bpp != 4 && bpp != 8) {
    return std::nullopt;
  }
  std::size_t palette_at = kFileHeader + header;
  if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
    if (bpp != 16 && bpp != 32) return std::nullopt;
    const std::size_t masks = compression == kBiAlphaBitfields ? 4 : 3;
    const std::size_t at = kFileHeader + 40;
    if (header == 40) palette_at += masks * 4;  // the masks follow the header
    if (b.size() < at + masks * 4) return std::nullopt;
    rmask = U32(b, at), gmask = U32(b, at + 4), bmask = U32(b, at + 8);
    if (masks == 4 || header >= 56) amask = U32(b, at + 12);
  } else if (compression != kBiRgb) {
    return std::nullopt;
  }

  std::vector<std::uint8_t> palette;  // RGB triples
  if (bpp <= 8) {
    const std::uint64_t entries = colours_used ? colours_used : (1u << bpp);
    if (entries > 256 || palette_at + entries * palette_entry > b.size()) return std::nullopt;
    for (std::size_t i = 0; i < entries; ++i) {
      const std::size_t at = palette_at + i * palette_entry;
      palette.push_back(static_cast<std::uint8_t>(b[at + 2]));
      palette.push_back(static_cast<std::uint8_t>(b[at + 1]));
      palette.push_back(static_cast<std::uint8_t>(b[at]));
    }
  }

  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4;
  if (bits_offset > b.size() || stride * height > b.size() - bits_offset) return std::nullopt;

  std::optional<Picture> out = MakePicture(width, height);
  if (!out) return std::nullopt;
  const Channel r(rmask), g(gmask), bl(bmask), a(amask);
  for (std::int64_t y = 0; y < height; ++y) {
    const std::size_t row = bits_offset + static_cast<std::size_t>(stride) *
                                              static_cast<std::size_t>(top_down ? y : height - 1 - y);
    const auto* src = reinterpret_cast<const std::uint8_t*>(b.data()) + row;
    std::uint8_t* dst = &out->rgba[static_cast<std::size_t>(y * width * 4)];
    for (std::int64_t x = 0; x < width; ++x, dst += 4) {
      if (bpp <= 8) {
        const std::size_t bit = static_cast<std::size_t>(x) * bpp;
        const unsigned index = (src[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        if (index * 3 < palette.size()) std::memcpy(dst, &palette[index * 3], 3);
        dst[3] = 255;  // an index past the palette stays black
        continue;
      }
      std::uint32_t px = 0;
      const std::uint8_t* s = src + x * (bpp / 8);
      for (unsigned i = 0; i < bpp / 8; ++i) px |= static_cast<std::uint32_t>(s[i]) << (8 * i);
      dst[0] = r.Get(px, 0);
      dst[1] = g.Get(px, 0);
      dst[2] = bl.Get(px, 0);
      dst[3] = a.Get(px, 255);
    }
  }
  return out;
}

std::optional<std::string> EncodeBmp(const Picture& p) {
  const bool alpha = !Opaque(p);
  const std::uint32_t bpp = alpha ? 32 : 24;
  const std::uint32_t header = alpha ? 108 : 40;  // V4 header, which carries the alpha mask
  const std::uint64_t stride = (static_cast<std::uint64_t>(p.width) * bpp + 31) / 32 * 4;
  const std::uint64_t image = stride * p.height;
  const std::uint64_t offset = kFileHeader + header;
  if (offset + image > 0xFFFFFFFFu) return std::nullopt;
  std::string b;
  b.reserve(static_cast<std::size_t>(offset + image));
  b += "BM";
  Put32(b, static_cast<std::uint32_t>(offset + image));
  Put32(b, 0);
  Put32(b, static_cast<std::uint32_t>(offset));
  Put32(b, header);
  Put32(b, p.width);
  Put32(b, p.height);  // bottom-up
  Put16(b, 1);
  Put16(b, bpp);
  Put32(b, alpha ? kBiBitfields : kBiRgb);
  Put32(b, static_cast<std::uint32_t>(image));
  Put32(b, 2835);  // 72 dots per inch
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  if (alpha) {
    Put32(b, 0x00FF0000);
    Put32(b, 0x0000FF00);
    Put32(b, 0x000000FF);
    Put32(b, 0xFF000000);
    Put32(b, 0x73524742);  // "sRGB"
    b.append(header - 60, '\0');  // end points and gamma, unused for sRGB
  }
  const std::string pad(static_cast<std::size_t>(stride - p.width * (bpp / 8)), '\0');
  for (std::uint32_t y = p.height; y-- > 0;) {
    const std::uint8_t* px = &p.rgba[static_cast<std::size_t>(y) * p.width * 4];
    for (std::uint32_t x = 0; x < p.width; ++x, px += 4) {
      b += static_cast<char>(px[2]);
      b += static_cast<char>(px[1]);
      b += static_cast<char>(px[0]);
      if (alpha) b += static_cast<char>(px[3]);
    }
    b += pad;
  }
  return b;
}

}  // namespace desktop::picture
