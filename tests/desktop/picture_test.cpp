#include "desktop/picture.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <array>
#include <cstdio>

#include <jpeglib.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

namespace pic = desktop::picture;
using pic::Format;
using pic::Picture;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::WriteFile;
namespace fs = std::filesystem;

// Path text with "\" before the name, the form the UI package uses on both systems.
std::u16string In(const TempDir& dir, const std::string& name) {
  return dir.path().u16string() + u"\\" + fs::path(name).u16string();
}

const std::uint8_t* At(const Picture& p, std::uint32_t x, std::uint32_t y) {
  return &p.rgba[(static_cast<std::size_t>(y) * p.width + x) * 4];
}

std::string Rgba(const std::uint8_t* px) {
  return std::to_string(px[0]) + "," + std::to_string(px[1]) + "," + std::to_string(px[2]) + "," +
         std::to_string(px[3]);
}

// A smooth picture whose channels all differ (a swapped channel or a flipped row shows), with odd
// sides (rows need padding in BMP). With alpha, the alpha runs from 0 to 255 across it.
Picture Gradient(std::uint32_t w, std::uint32_t h, bool alpha) {
  Picture p;
  p.width = w;
  p.height = h;
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      p.rgba.push_back(static_cast<std::uint8_t>(20 + x * 200 / w));
      p.rgba.push_back(static_cast<std::uint8_t>(40 + y * 180 / h));
      p.rgba.push_back(static_cast<std::uint8_t>(230 - (x + y) * 100 / (w + h)));
      p.rgba.push_back(alpha ? static_cast<std::uint8_t>((x + y * w) * 255 / (w * h - 1)) : 255);
    }
  return p;
}

// Four blocks of 2x2 pixels in four colours.
const std::uint8_t kBlocks[4][4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255},
                                    {250, 200, 10, 255}};
Picture Blocks() {
  Picture p;
  p.width = p.height = 4;
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 4; ++x)
      p.rgba.insert(p.rgba.end(), kBlocks[(y / 2) * 2 + x / 2], kBlocks[(y / 2) * 2 + x / 2] + 4);
  return p;
}

int MaxDifference(const Picture& a, const Picture& b) {
  int most = 0;
  for (std::size_t i = 0; i < a.rgba.size() && i < b.rgba.size(); ++i)
    most = std::max(most, std::abs(int(a.rgba[i]) - int(b.rgba[i])));
  return most;
}

std::string Encoded(const Picture& p, Format f) {
  const auto bytes = pic::Encode(p, f);
  EXPECT_TRUE(bytes);
  return bytes ? *bytes : std::string();
}

TEST(Picture, FormatFromTheExtensionWithoutRegardToCase) {
  const struct {
    std::u16string path;
    std::optional<Format> format;
  } cases[] = {
      {u"a.png", Format::kPng},       {u"C:\\x\\A.PNG", Format::kPng},
      {u"a.jpg", Format::kJpeg},      {u"a.JPEG", Format::kJpeg},
      {u"a.jpe", Format::kJpeg},      {u"a.Jfif", Format::kJpeg},
      {u"a.bmp", Format::kBmp},       {u"a.DIB", Format::kBmp},
      {u"a.tif", Format::kTiff},      {u"/x/a.TIFF", Format::kTiff},
      {u"a.gif", std::nullopt},       {u"a.png.txt", std::nullopt},
      {u"png", std::nullopt},         {u"x.png\\name", std::nullopt},
      {u"x.png/name", std::nullopt},  {u"a.", std::nullopt},
      {u"", std::nullopt},            {u"a.pngx", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(pic::FormatOf(c.path), c.format) << fs::path(c.path).string();
}

// Every format written and read back through files: exact for the lossless ones, with and without
// alpha; JPEG within a tolerance.
TEST(Picture, RoundTripsThroughFiles) {
  const struct {
    const char* name;
    bool alpha;
    int tolerance;
  } cases[] = {
      {"p.png", false, 0},  {"p.png", true, 0},  {"p.bmp", false, 0}, {"p.bmp", true, 0},
      {"p.tif", false, 0},  {"p.tiff", true, 0}, {"p.jpg", false, 8}, {"P.PNG", true, 0},
      {"P.BMP", false, 0},  {"P.TIF", true, 0},  {"P.JPEG", false, 8},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.alpha ? " with alpha" : ""));
    const Picture original = Gradient(37, 23, c.alpha);
    const std::u16string path = In(dir, c.name);
    ASSERT_TRUE(pic::Save(original, path));
    const std::optional<Picture> back = pic::Load(path);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->width, original.width);
    ASSERT_EQ(back->height, original.height);
    if (c.tolerance == 0)
      EXPECT_EQ(back->rgba, original.rgba);
    else
      EXPECT_LE(MaxDifference(*back, original), c.tolerance);
    EXPECT_FALSE(fs::exists(fs::path(path + u".tmp")));
  }
}

TEST(Picture, JpegLaysAlphaOverWhite) {
  Picture clear = Gradient(16, 16, false);
  for (std::size_t i = 3; i < clear.rgba.size(); i += 4) clear.rgba[i] = 0;
  const auto bytes = pic::Encode(clear, Format::kJpeg);
  ASSERT_TRUE(bytes);
  const auto back = pic::Decode(*bytes, Format::kJpeg);
  ASSERT_TRUE(back);
  for (std::size_t i = 0; i < back->rgba.size(); ++i) ASSERT_GE(back->rgba[i], 250) << i;
}

// Bitmaps as other programs write them: palettes, 16-bit 5-5-5, top-down rows, 32 bits with the
// fourth byte unused.
TEST(Picture, ReadsOtherBitmapLayouts) {
  auto header = [](std::int32_t w, std::int32_t h, int bpp, std::uint32_t colours,
                   std::uint32_t palette_bytes) {
    std::string b = "BM";
    auto put32 = [&b](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto put16 = [&b](std::uint32_t v) {
      b += static_cast<char>(v & 0xFF);
      b += static_cast<char>(v >> 8);
    };
    put32(0);
    put32(0);
    put32(54 + palette_bytes);
    put32(40);
    put32(static_cast<std::uint32_t>(w));
    put32(static_cast<std::uint32_t>(h));
    put16(1);
    put16(static_cast<std::uint32_t>(bpp));
    put32(0);
    put32(0);
    put32(0);
    put32(0);
    put32(colours);
    put32(0);
    return b;
  };
  const struct {
    const char* what;
    std::string bytes;
    std::vector<std::string> pixels;  // row by row from the top
  } cases[] = {
      // 1 bit, palette black and white-ish, 3x2 bottom-up: rows padded to 4 bytes.
      {"1-bit palette",
       header(3, 2, 1, 2, 8) + std::string("\0\0\0\0\x10\x20\x30\0", 8) +
           std::string("\xA0\0\0\0", 4) + std::string("\x40\0\0\0", 4),
       {"0,0,0,255", "48,32,16,255", "0,0,0,255", "48,32,16,255", "0,0,0,255", "48,32,16,255"}},
      // 4 bits with an index past the 2-colour palette: black.
      {"4-bit palette", header(2, 1, 4, 2, 8) + std::string("\1\2\3\0\4\5\6\0", 8) +
                            std::string("\x1F\0\0\0", 4),
       {"6,5,4,255", "0,0,0,255"}},
      // 8 bits, top-down (negative height).
      {"8-bit top-down", header(1, -2, 8, 2, 8) + std::string("\1\2\3\0\4\5\6\0", 8) +
                             std::string("\0\0\0\0\1\0\0\0", 8),
       {"3,2,1,255", "6,5,4,255"}},
      // 16 bits 5-5-5: pure red and pure blue.
      {"16-bit", header(2, 1, 16, 0, 0) + std::string("\x00\x7C\x1F\x00", 4),
       {"255,0,0,255", "0,0,255,255"}},
      // 32 bits without masks: the fourth byte is not alpha.
      {"32-bit", header(1, 1, 32, 0, 0) + std::string("\x10\x20\x30\x00", 4),
       {"48,32,16,255"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto p = pic::Decode(c.bytes, Format::kBmp);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->width * p->height, c.pixels.size());
    for (std::uint32_t i = 0; i < c.pixels.size(); ++i)
      EXPECT_EQ(Rgba(At(*p, i % p->width, i / p->width)), c.pixels[i]) << i;
  }
}

std::string Chunk(const std::string& type, const std::string& data) {
  std::string c;
  for (int i = 3; i >= 0; --i) c += static_cast<char>((data.size() >> (8 * i)) & 0xFF);
  c += type + data;
  const std::string covered = type + data;
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(covered.data()), static_cast<uInt>(covered.size())));
  for (int i = 3; i >= 0; --i) c += static_cast<char>((crc >> (8 * i)) & 0xFF);
  return c;
}

// A 16-bit file without gamma information, as many programs write it, holds sRGB values: half
// of full scale is 128, not the 186 that reading it as linear light would give.
TEST(Picture, SixteenBitPngWithoutGammaIsSrgb) {
  const std::string ihdr("\0\0\0\2\0\0\0\1\x10\x02\0\0\0", 13);  // 2x1, 16-bit RGB
  const std::string row("\0\x80\x80\x80\x80\x80\x80\x40\x40\x40\x40\x40\x40", 13);
  std::string idat(compressBound(static_cast<uLong>(row.size())), '\0');
  uLongf size = static_cast<uLongf>(idat.size());
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&idat[0]), &size,
                     reinterpret_cast<const Bytef*>(row.data()), static_cast<uLong>(row.size())),
            Z_OK);
  idat.resize(size);
  const std::string png = std::string("\x89PNG\r\n\x1a\n") + Chunk("IHDR", ihdr) +
                          Chunk("IDAT", idat) + Chunk("IEND", "");
  const auto p = pic::Decode(png, Format::kPng);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->width, 2u);
  EXPECT_EQ(Rgba(At(*p, 0, 0)), "128,128,128,255");
  EXPECT_EQ(Rgba(At(*p, 1, 0)), "64,64,64,255");
}

// A little-endian TIFF: the header, one directory of {tag, type, count, value} entries (in tag
// order) and then `data`; the strip offset entry (273) is pointed at the data.
std::string Tiff(const std::vector<std::array<std::uint32_t, 4>>& entries, const std::string& data) {
  auto le = [](std::string& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  std::string t("II*\0\x08\0\0\0", 8);
  le(t, static_cast<std::uint32_t>(entries.size()), 2);
  const auto data_at = static_cast<std::uint32_t>(8 + 2 + 12 * entries.size() + 4);
  for (const auto& e : entries) {
    le(t, e[0], 2);
    le(t, e[1], 2);
    le(t, e[2], 4);
    le(t, e[0] == 273 ? data_at : e[3], 4);
  }
  le(t, 0, 4);
  return t + data;
}

// TIFF layouts other than 8-bit RGB(A) strips go through libtiff's RGBA reader: grey, and colour
// with premultiplied (associated) alpha, which comes out straight.
TEST(Picture, ReadsOtherTiffLayouts) {
  const std::string grey = Tiff({{256, 4, 1, 2}, {257, 4, 1, 1}, {258, 3, 1, 8}, {259, 3, 1, 1},
                                 {262, 3, 1, 1}, {273, 4, 1, 0}, {277, 3, 1, 1}, {278, 4, 1, 1},
                                 {279, 4, 1, 2}},
                                std::string("\0\xC8", 2));
  auto p = pic::Decode(grey, Format::kTiff);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->width, 2u);
  EXPECT_EQ(Rgba(At(*p, 0, 0)), "0,0,0,255");
  EXPECT_EQ(Rgba(At(*p, 1, 0)), "200,200,200,255");

  const std::string premultiplied =
      Tiff({{256, 4, 1, 1}, {257, 4, 1, 1}, {258, 3, 1, 8}, {259, 3, 1, 1}, {262, 3, 1, 2},
            {273, 4, 1, 0}, {277, 3, 1, 4}, {278, 4, 1, 1}, {279, 4, 1, 4}, {338, 3, 1, 1}},
           std::string("\x40\x20\x10\x80", 4));
  p = pic::Decode(premultiplied, Format::kTiff);
  ASSERT_TRUE(p);
  EXPECT_EQ(Rgba(At(*p, 0, 0)), "128,64,32,128");
}

// CMYK JPEG files store 255 minus the ink (Adobe's convention).
TEST(Picture, ReadsCmykJpeg) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = info.image_height = 8;
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  // No cyan, full magenta and yellow, no black: red.
  std::vector<unsigned char> row = {255, 0, 0, 255};
  row.resize(8 * 4);
  for (std::size_t i = 4; i < row.size(); ++i) row[i] = row[i % 4];
  while (info.next_scanline < 8) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&info, &r, 1);
  }
  jpeg_finish_compress(&info);
  const std::string bytes(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);

  const auto p = pic::Decode(bytes, Format::kJpeg);
  ASSERT_TRUE(p);
  const std::uint8_t* px = At(*p, 3, 3);
  EXPECT_GE(px[0], 247);
  EXPECT_LE(px[1], 8);
  EXPECT_LE(px[2], 8);
  EXPECT_EQ(px[3], 255);
}

// A JPEG picture with an Exif orientation comes out upright. The fixture is 32 x 16, its left half
// red and its right half blue, with an Exif block (either byte order) put after the start marker.
TEST(Picture, JpegExifOrientationIsApplied) {
  Picture halves;
  halves.width = 32;
  halves.height = 16;
  for (std::uint32_t y = 0; y < 16; ++y)
    for (std::uint32_t x = 0; x < 32; ++x)
      halves.rgba.insert(halves.rgba.end(), x < 16 ? std::initializer_list<std::uint8_t>{255, 0, 0, 255}
                                                   : std::initializer_list<std::uint8_t>{0, 0, 255, 255});
  const std::string plain = Encoded(halves, Format::kJpeg);
  auto with_exif = [&plain](bool little, int orientation) {
    const std::string ifd =
        little ? std::string("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 18) +
                     static_cast<char>(orientation) + std::string(7, '\0')
               : std::string("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19) +
                     static_cast<char>(orientation) + std::string(6, '\0');
    const std::string body = std::string("Exif\0\0", 6) + ifd;
    const std::size_t length = body.size() + 2;
    return plain.substr(0, 2) + "\xFF\xE1" + static_cast<char>(length >> 8) +
           static_cast<char>(length & 0xFF) + body + plain.substr(2);
  };
  auto red = [](const Picture& p, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* px = At(p, x, y);
    return px[0] > 200 && px[2] < 60;
  };
  auto blue = [](const Picture& p, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* px = At(p, x, y);
    return px[2] > 200 && px[0] < 60;
  };
  const struct {
    bool little;
    int orientation;
    std::uint32_t width, height;
    bool red_first;  // red at the top (turned) or at the left (not turned)
  } cases[] = {
      {true, 1, 32, 16, true},  {true, 2, 32, 16, false}, {false, 3, 32, 16, false},
      {true, 4, 32, 16, true},  {false, 5, 16, 32, true}, {true, 6, 16, 32, true},
      {false, 6, 16, 32, true}, {true, 7, 16, 32, false}, {false, 8, 16, 32, false},
      {true, 9, 32, 16, true},  // not an orientation: as stored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.little ? "II " : "MM ") + std::to_string(c.orientation));
    const auto p = pic::Decode(with_exif(c.little, c.orientation), Format::kJpeg);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->width, c.width);
    ASSERT_EQ(p->height, c.height);
    const bool turned = c.width == 16;
    const std::uint32_t fx = turned ? 8 : 4, fy = turned ? 4 : 8;  // in the first half
    const std::uint32_t lx = turned ? 8 : 27, ly = turned ? 27 : 8;  // in the last half
    EXPECT_EQ(red(*p, fx, fy), c.red_first);
    EXPECT_EQ(blue(*p, lx, ly), c.red_first);
    EXPECT_EQ(blue(*p, fx, fy), !c.red_first);
  }
}

TEST(Picture, ZoomTwiceThroughFiles) {
  TempDir dir;
  ASSERT_TRUE(pic::Save(Blocks(), In(dir, "blocks.png")));
  ASSERT_TRUE(pic::Zoom(In(dir, "blocks.png"), 2, 2, In(dir, "big.BMP")));
  const auto big = pic::Load(In(dir, "big.BMP"));
  ASSERT_TRUE(big);
  ASSERT_EQ(big->width, 8u);
  ASSERT_EQ(big->height, 8u);
  // Inside a block the colour is the block's; the corners keep theirs.
  EXPECT_EQ(Rgba(At(*big, 1, 1)), Rgba(kBlocks[0]));
  EXPECT_EQ(Rgba(At(*big, 0, 0)), Rgba(kBlocks[0]));
  EXPECT_EQ(Rgba(At(*big, 6, 1)), Rgba(kBlocks[1]));
  EXPECT_EQ(Rgba(At(*big, 1, 6)), Rgba(kBlocks[2]));
  EXPECT_EQ(Rgba(At(*big, 7, 7)), Rgba(kBlocks[3]));
  // Pixel 3 of the row samples the source at 1.25: three quarters red, one quarter green.
  const std::uint8_t* mixed = At(*big, 3, 0);
  EXPECT_NEAR(mixed[0], 191, 1);
  EXPECT_NEAR(mixed[1], 64, 1);
  EXPECT_EQ(mixed[2], 0);

  // Each direction has its own factor; sizes are rounded.
  const auto flat = pic::Resample(Blocks(), 0.5, 3);
  ASSERT_TRUE(flat);
  EXPECT_EQ(flat->width, 2u);
  EXPECT_EQ(flat->height, 12u);
  const auto odd = pic::Resample(Gradient(3, 100, false), 0.5, 0.29);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->width, 2u);
  EXPECT_EQ(odd->height, 29u);
}

// Shrinking averages every source pixel: a fine checkerboard becomes an even grey, not a pattern
// of whichever pixels the sampling points hit. Transparent pixels lend no colour.
TEST(Picture, ShrinkingAverages) {
  Picture board;
  board.width = board.height = 64;
  for (std::uint32_t y = 0; y < 64; ++y)
    for (std::uint32_t x = 0; x < 64; ++x) {
      const std::uint8_t v = (x + y) % 2 ? 255 : 0;
      board.rgba.insert(board.rgba.end(), {v, v, v, 255});
    }
  for (double f : {0.3, 0.1, 0.05}) {
    SCOPED_TRACE(f);
    const auto small = pic::Resample(board, f, f);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, static_cast<std::uint32_t>(std::lround(64 * f)));
    for (std::size_t i = 0; i < small->rgba.size(); i += 4)
      ASSERT_NEAR(small->rgba[i], 128, 20) << "pixel " << i / 4;
  }
  Picture half_clear;
  half_clear.width = 4;
  half_clear.height = 1;
  half_clear.rgba = {0, 0, 0, 0, 200, 100, 50, 255, 0, 0, 0, 0, 200, 100, 50, 255};
  const auto dot = pic::Resample(half_clear, 0.25, 1);
  ASSERT_TRUE(dot);
  EXPECT_EQ(Rgba(At(*dot, 0, 0)), "200,100,50,128");
}

// A factor that is not finite and positive, or a result that would be empty or beyond the
// bounds, is refused before anything is allocated or written.
TEST(Picture, ZoomRefusesBadFactorsAndHugeResults) {
  TempDir dir;
  ASSERT_TRUE(pic::Save(Blocks(), In(dir, "blocks.png")));
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double fx, fy;
  } cases[] = {
      {nan, 1}, {1, nan}, {inf, 1}, {1, inf}, {-inf, 1}, {0, 1}, {1, 0}, {-2, 2}, {2, -2},
      {0.1, 1},     // 4 * 0.1 rounds to 0 pixels
      {1e300, 1},   // would overflow any integer
      {4097, 1},    // one side beyond 16384
      {4096, 2049}, // each side within, the pixel count beyond
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.fx) + " x " + std::to_string(c.fy));
    EXPECT_FALSE(pic::Zoom(In(dir, "blocks.png"), c.fx, c.fy, In(dir, "out.png")));
    EXPECT_FALSE(fs::exists(dir.path() / "out.png"));
    EXPECT_FALSE(pic::Resample(Blocks(), c.fx, c.fy));
  }
  // The side bound itself is allowed.
  Picture dot;
  dot.width = dot.height = 1;
  dot.rgba = {1, 2, 3, 4};
  const auto line = pic::Resample(dot, pic::kMaxSide, 1);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->width, pic::kMaxSide);
  EXPECT_EQ(Rgba(At(*line, pic::kMaxSide - 1, 0)), "1,2,3,4");
  EXPECT_FALSE(pic::Resample(dot, pic::kMaxSide + 1, 1));
}

// Nothing is written when the source is missing, unreadable or of an unknown kind, or the
// destination's kind is unknown; an existing destination stays as it was.
TEST(Picture, FailuresWriteNothing) {
  TempDir dir;
  const std::string png = Encoded(Gradient(9, 9, false), Format::kPng);
  WriteFile(dir.path() / "good.png", png);
  WriteFile(dir.path() / "good.gif", png);
  WriteFile(dir.path() / "noise.png", std::string(300, '\x5A'));
  const struct {
    const char* what;
    std::string source, destination;
  } cases[] = {
      {"missing source", "none.png", "out.png"},
      {"a folder as source", "sub.png", "out.png"},
      {"unknown source extension", "good.gif", "out.png"},
      {"no source extension", "good", "out.png"},
      {"unknown destination extension", "good.png", "out.gif"},
      {"corrupt source", "noise.png", "out.png"},
      {"destination folder missing", "good.png", "no\\such\\out.png"},
      {"destination is a folder", "good.png", "sub.png"},
  };
  fs::create_directory(dir.path() / "sub.png");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(pic::Convert(In(dir, c.source), In(dir, c.destination)));
    EXPECT_FALSE(pic::Zoom(In(dir, c.source), 2, 2, In(dir, c.destination)));
    EXPECT_FALSE(fs::exists(dir.path() / "out.png"));
    EXPECT_FALSE(fs::exists(dir.path() / "out.gif"));
    EXPECT_FALSE(fs::exists(dir.path() / "sub.png.tmp"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "sub.png"));
  }
  WriteFile(dir.path() / "kept.bmp", "old");
  EXPECT_FALSE(pic::Convert(In(dir, "noise.png"), In(dir, "kept.bmp")));
  EXPECT_EQ(ReadFile(dir.path() / "kept.bmp"), "old");
  EXPECT_TRUE(pic::Convert(In(dir, "good.png"), In(dir, "kept.bmp")));
  EXPECT_EQ(ReadFile(dir.path() / "kept.bmp").substr(0, 2), "BM");

  // A picture whose buffer does not match its size is not saved.
  Picture wrong = Gradient(4, 4, false);
  wrong.rgba.resize(10);
  EXPECT_FALSE(pic::Save(wrong, In(dir, "wrong.png")));
  EXPECT_FALSE(fs::exists(dir.path() / "wrong.png"));
}

// Garbage, cut-off files and one flipped byte in the middle of each format: refused, or read
// without going out of bounds (the sanitizer run watches).
TEST(Picture, CorruptFilesAreRefused) {
  const Picture original = Gradient(40, 30, true);
  for (Format f : {Format::kPng, Format::kJpeg, Format::kBmp, Format::kTiff}) {
    SCOPED_TRACE(static_cast<int>(f));
    const std::string good = Encoded(original, f);
    ASSERT_TRUE(pic::Decode(good, f));
    EXPECT_FALSE(pic::Decode("", f));
    EXPECT_FALSE(pic::Decode(std::string(500, '\xA5'), f));
    EXPECT_FALSE(pic::Decode(good.substr(0, good.size() / 2), f));
    EXPECT_FALSE(pic::Decode(good.substr(0, 20), f));
    for (std::size_t at = 0; at < good.size(); at += 7) {
      std::string bad = good;
      bad[at] = static_cast<char>(bad[at] ^ 0x5A);
      const auto p = pic::Decode(bad, f);
      if (p) {
        EXPECT_LE(p->width, pic::kMaxSide);
        EXPECT_EQ(p->rgba.size(), std::size_t(p->width) * p->height * 4);
      }
    }
  }
}

// Headers that claim huge pictures: refused from the header, before the pixels are allocated (a
// sanitizer build aborts on an allocation of that size).
TEST(Picture, HugeHeadersAreRefusedBeforeDecoding) {
  auto le32 = [](std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto be32 = [](std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * (3 - i))) & 0xFF);
  };
  auto be16 = [](std::string& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<char>(v >> 8);
    b[at + 1] = static_cast<char>(v & 0xFF);
  };
  const Picture small = Gradient(8, 8, false);

  std::string bmp = Encoded(small, Format::kBmp);
  le32(bmp, 18, 100000);
  le32(bmp, 22, 100000);

  std::string png = Encoded(small, Format::kPng);  // IHDR data at 16, its CRC at 29
  be32(png, 16, 100000);
  be32(png, 20, 100000);
  be32(png, 29, static_cast<std::uint32_t>(
                    crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17)));

  std::string jpeg = Encoded(small, Format::kJpeg);
  const std::size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  be16(jpeg, sof + 5, 60000);  // height, then width
  be16(jpeg, sof + 7, 60000);

  // A TIFF that claims 100000 x 100000 pixels and holds none.
  const std::string tiff = Tiff({{256, 4, 1, 100000}, {257, 4, 1, 100000}, {258, 3, 1, 8},
                                 {259, 3, 1, 1}, {262, 3, 1, 2}, {273, 4, 1, 0}, {277, 3, 1, 3},
                                 {278, 4, 1, 100000}, {279, 4, 1, 30000}},
                                "");

  // A complete bitmap one pixel wider than the bound.
  Picture wide;
  wide.width = pic::kMaxSide;
  wide.height = 1;
  wide.rgba.assign(wide.width * 4, 255);
  std::string bmp_wide = Encoded(wide, Format::kBmp);
  ASSERT_TRUE(pic::Decode(bmp_wide, Format::kBmp));
  le32(bmp_wide, 18, pic::kMaxSide + 1);
  bmp_wide += std::string(4, '\0');

  const struct {
    const char* what;
    const std::string& bytes;
    Format format;
  } cases[] = {
      {"bmp", bmp, Format::kBmp},
      {"png", png, Format::kPng},
      {"jpeg", jpeg, Format::kJpeg},
      {"tiff", tiff, Format::kTiff},
      {"bmp one pixel too wide", bmp_wide, Format::kBmp},
  };
  for (const auto& c : cases) EXPECT_FALSE(pic::Decode(c.bytes, c.format)) << c.what;
}

}  // namespace
