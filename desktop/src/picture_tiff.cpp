// TIFF through libtiff, over the bytes in memory (TIFFClientOpen), so that the library never
// opens a path itself. The first image of the file is read; 8-bit RGB and RGBA strips are read
// as they are (exact, alpha unchanged), every other layout through libtiff's RGBA reader.
// Written as 8-bit RGB, or RGBA with unassociated alpha, LZW compressed.
#include "picture_codecs.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace desktop::picture {

namespace {

// The file in memory: a read-only view for reading, a growing buffer for writing.
struct MemoryFile {
  const std::string* in = nullptr;
  std::string out;
  std::uint64_t pos = 0;

  std::uint64_t size() const { return in ? in->size() : out.size(); }
};

MemoryFile& File(thandle_t h) { return *static_cast<MemoryFile*>(h); }

tmsize_t Read(thandle_t h, void* buf, tmsize_t n) {
  MemoryFile& f = File(h);
  if (!f.in || n < 0 || f.pos >= f.in->size()) return 0;
  const std::uint64_t take = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), f.in->size() - f.pos);
  std::memcpy(buf, f.in->data() + f.pos, static_cast<std::size_t>(take));
  f.pos += take;
  return static_cast<tmsize_t>(take);
}

tmsize_t Write(thandle_t h, void* buf, tmsize_t n) {
  MemoryFile& f = File(h);
  if (f.in || n < 0) return -1;
  const std::uint64_t end = f.pos + static_cast<std::uint64_t>(n);
  if (end > kMaxFileBytes) return -1;
  try {
    if (end > f.out.size()) f.out.resize(static_cast<std::size_t>(end));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::memcpy(&f.out[static_cast<std::size_t>(f.pos)], buf, static_cast<std::size_t>(n));
  f.pos = end;
  return n;
}

toff_t Seek(thandle_t h, toff_t off, int whence) {
  MemoryFile& f = File(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = f.pos;
  if (whence == SEEK_END) base = f.size();
  const std::uint64_t to = base + off;
  if (to > kMaxFileBytes) return static_cast<toff_t>(-1);
  f.pos = to;
  return to;
}

int Close(thandle_t) { return 0; }
toff_t Size(thandle_t h) { return File(h).size(); }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

// libtiff's messages are not printed; a failure shows in the call that failed.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffGuard {
  TIFF* tif = nullptr;
  ~TiffGuard() {
    if (tif) TIFFClose(tif);
  }
};

struct OptionsGuard {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  ~OptionsGuard() { TIFFOpenOptionsFree(opts); }
};

TIFF* Open(MemoryFile& file, const char* mode) {
  OptionsGuard options;
  if (!options.opts) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.opts, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.opts, Quiet, nullptr);
  // No single allocation of the library beyond what the largest picture needs.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.opts, static_cast<tmsize_t>(kMaxPixels * 4));
  return TIFFClientOpenExt("picture", mode, &file, Read, Write, Seek, Close, Size, Map, Unmap,
                           options.opts);
}

std::uint16_t Field16(TIFF* tif, ttag_t tag, std::uint16_t def) {
  std::uint16_t v = def;
  return TIFFGetFieldDefaulted(tif, tag, &v) == 1 ? v : def;
}

bool UnassociatedAlpha(TIFF* tif) {
  std::uint16_t count = 0;
  std::uint16_t* kinds = nullptr;
  return TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 1 && count == 1 &&
         kinds[0] == EXTRASAMPLE_UNASSALPHA;
}

bool ReadDirect(TIFF* tif, Picture& p, std::uint16_t samples) {
  std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize64(tif)));
  for (std::uint32_t y = 0; y < p.height; ++y) {
    if (TIFFReadScanline(tif, row.data(), y, 0) != 1) return false;
    std::uint8_t* dst = &p.rgba[static_cast<std::size_t>(y) * p.width * 4];
    for (std::uint32_t x = 0; x < p.width; ++x, dst += 4) {
      const std::uint8_t* s = &row[static_cast<std::size_t>(x) * samples];
      dst[0] = s[0];
      dst[1] = s[1];
      dst[2] = s[2];
      dst[3] = samples == 4 ? s[3] : 255;
    }
  }
  return true;
}

// libtiff's reader gives premultiplied colour whatever kind of alpha the file has; that is undone
// here, as a picture in memory has straight alpha.
bool ReadGeneric(TIFF* tif, Picture& p) {
  char message[1024] = {};
  if (!TIFFRGBAImageOK(tif, message)) return false;
  std::vector<std::uint32_t> raster(static_cast<std::size_t>(p.width) * p.height);
  if (!TIFFReadRGBAImageOriented(tif, p.width, p.height, raster.data(), ORIENTATION_TOPLEFT, 1))
    return false;
  for (std::size_t i = 0; i < raster.size(); ++i) {
    std::uint8_t* px = &p.rgba[i * 4];
    const std::uint32_t v = raster[i];
    px[0] = static_cast<std::uint8_t>(TIFFGetR(v));
    px[1] = static_cast<std::uint8_t>(TIFFGetG(v));
    px[2] = static_cast<std::uint8_t>(TIFFGetB(v));
    px[3] = static_cast<std::uint8_t>(TIFFGetA(v));
    if (px[3] != 0 && px[3] != 255)
      for (int c = 0; c < 3; ++c)
        px[c] = static_cast<std::uint8_t>(std::min(255u, (px[c] * 255u + px[3] / 2u) / px[3]));
  }
  return true;
}

}  // namespace

std::optional<Picture> DecodeTiff(const std::string& bytes) {
  MemoryFile file;
  file.in = &bytes;
  TiffGuard guard;
  guard.tif = Open(file, "rm");
  if (!guard.tif) return std::nullopt;
  TIFF* tif = guard.tif;
  std::uint32_t width = 0, height = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) != 1)
    return std::nullopt;
  std::optional<Picture> out = MakePicture(width, height);  // bounded before any pixel is read
  if (!out) return std::nullopt;

  const std::uint16_t samples = Field16(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  const bool direct = !TIFFIsTiled(tif) && Field16(tif, TIFFTAG_BITSPERSAMPLE, 1) == 8 &&
                      Field16(tif, TIFFTAG_PHOTOMETRIC, 0) == PHOTOMETRIC_RGB &&
                      Field16(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_CONTIG &&
                      Field16(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == ORIENTATION_TOPLEFT &&
                      (samples == 3 || (samples == 4 && UnassociatedAlpha(tif))) &&
                      TIFFScanlineSize64(tif) == static_cast<std::uint64_t>(width) * samples;
  if (!(direct ? ReadDirect(tif, *out, samples) : ReadGeneric(tif, *out))) return std::nullopt;
  return out;
}

std::optional<std::string> EncodeTiff(const Picture& p) {
  const bool alpha = !Opaque(p);
  const std::uint16_t samples = alpha ? 4 : 3;
  MemoryFile file;
  {
    TiffGuard guard;
    guard.tif = Open(file, "w");
    if (!guard.tif) return std::nullopt;
    TIFF* tif = guard.tif;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (alpha) {
      const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(p.width) * samples);
    for (std::uint32_t y = 0; y < p.height; ++y) {
      const std::uint8_t* src = &p.rgba[static_cast<std::size_t>(y) * p.width * 4];
      for (std::uint32_t x = 0; x < p.width; ++x)
        std::memcpy(&row[static_cast<std::size_t>(x) * samples], src + x * 4, samples);
      if (TIFFWriteScanline(tif, row.data(), y, 0) != 1) return std::nullopt;
    }
    if (!TIFFWriteDirectory(tif)) return std::nullopt;
  }  // closed: everything is flushed to the buffer
  return std::move(file.out);
}

}  // namespace desktop::picture
