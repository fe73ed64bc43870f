// JPEG through libjpeg-turbo. The library reports a fatal error by calling error_exit, which
// must not return; it jumps back to a setjmp in a function of ours that holds no object with a
// destructor, so the jump leaves only library frames. Everything that owns memory lives in the
// callers, which the jump never crosses.
#include "picture_codecs.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace desktop::picture {

namespace {

struct ErrorManager {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool truncated;
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings are not printed. A file that ends early is decoded by the library with grey filling
// the rest; that is a broken file and is refused. Other warnings (stray bytes between markers,
// common in camera files) are accepted.
void EmitMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
    reinterpret_cast<ErrorManager*>(info->err)->truncated = true;
}

void OutputMessage(j_common_ptr) {}

void InitErrors(ErrorManager& err) {
  jpeg_std_error(&err.mgr);
  err.mgr.error_exit = ErrorExit;
  err.mgr.emit_message = EmitMessage;
  err.mgr.output_message = OutputMessage;
  err.truncated = false;
}

int Orientation(const jpeg_decompress_struct& info);

struct Decompressor {
  ErrorManager err;
  jpeg_decompress_struct info;
  bool created = false;
  int orientation = 1;  // of the Exif block; the saved markers are gone after decompression
  ~Decompressor() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

// Reads the header and chooses the output colour space; false on any error.
bool ReadHeader(Decompressor& d, const std::string& bytes) {
  if (setjmp(d.err.jump)) return false;
  jpeg_create_decompress(&d.info);
  d.created = true;
  jpeg_mem_src(&d.info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(&d.info, JPEG_APP0 + 1, 0xFFFF);  // Exif, for the orientation
  if (jpeg_read_header(&d.info, TRUE) != JPEG_HEADER_OK) return false;
  d.orientation = Orientation(d.info);
  const J_COLOR_SPACE in = d.info.jpeg_color_space;
  d.info.out_color_space = (in == JCS_CMYK || in == JCS_YCCK) ? JCS_CMYK : JCS_EXT_RGBA;
  return true;
}

// Decodes every row into `pixels` (four bytes a pixel); false on any error.
bool ReadRows(Decompressor& d, std::uint8_t* pixels) {
  if (setjmp(d.err.jump)) return false;
  if (!jpeg_start_decompress(&d.info) || d.info.output_components != 4) return false;
  const std::size_t stride = static_cast<std::size_t>(d.info.output_width) * 4;
  while (d.info.output_scanline < d.info.output_height) {
    JSAMPROW row = pixels + stride * d.info.output_scanline;
    if (jpeg_read_scanlines(&d.info, &row, 1) != 1) return false;
  }
  jpeg_finish_decompress(&d.info);
  return !d.err.truncated;
}

struct Compressor {
  ErrorManager err;
  jpeg_compress_struct info;
  bool created = false;
  unsigned char* buffer = nullptr;  // the library's output buffer, malloc'ed
  unsigned long size = 0;
  ~Compressor() {
    if (created) jpeg_destroy_compress(&info);
    std::free(buffer);
  }
};

// Compresses `rgb` (three bytes a pixel) into the compressor's buffer; false on any error.
bool WriteRows(Compressor& c, const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height) {
  if (setjmp(c.err.jump)) return false;
  jpeg_create_compress(&c.info);
  c.created = true;
  jpeg_mem_dest(&c.info, &c.buffer, &c.size);
  c.info.image_width = width;
  c.info.image_height = height;
  c.info.input_components = 3;
  c.info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c.info);
  jpeg_set_quality(&c.info, 90, TRUE);
  jpeg_start_compress(&c.info, TRUE);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  while (c.info.next_scanline < c.info.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(rgb) + stride * c.info.next_scanline;
    jpeg_write_scanlines(&c.info, &row, 1);
  }
  jpeg_finish_compress(&c.info);
  return true;
}

// The orientation (1 to 8) of an Exif block: the tag 0x0112 of its first directory. 1 (as stored)
// when there is none or the block is malformed.
int ExifOrientation(const std::uint8_t* data, std::size_t size) {
  if (size < 14 || std::memcmp(data, "Exif\0\0", 6) != 0) return 1;
  const std::uint8_t* tiff = data + 6;
  const std::size_t n = size - 6;
  const bool le = tiff[0] == 'I' && tiff[1] == 'I';
  if (!le && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
  auto u16 = [&](std::size_t at) -> std::uint32_t {
    return le ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
  };
  auto u32 = [&](std::size_t at) -> std::uint32_t {
    return le ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  const std::uint32_t ifd = u32(4);
  if (ifd > n - 2) return 1;
  const std::uint32_t count = u16(ifd);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = ifd + 2 + std::size_t(i) * 12;
    if (at + 12 > n) return 1;
    if (u16(at) == 0x0112 && u16(at + 2) == 3) {  // SHORT
      const std::uint32_t v = u16(at + 8);
      return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    }
  }
  return 1;
}

int Orientation(const jpeg_decompress_struct& info) {
  for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 1) return ExifOrientation(m->data, m->data_length);
  return 1;
}

// The picture turned upright as its orientation says (rotations and mirrors of Exif).
Picture Orient(const Picture& p, int orientation) {
  const bool swap = orientation >= 5;
  Picture out;
  out.width = swap ? p.height : p.width;
  out.height = swap ? p.width : p.height;
  out.rgba.resize(p.rgba.size());
  const std::uint32_t w = p.width, h = p.height;
  for (std::uint32_t sy = 0; sy < h; ++sy)
    for (std::uint32_t sx = 0; sx < w; ++sx) {
      std::uint32_t dx = sx, dy = sy;
      switch (orientation) {
        case 2: dx = w - 1 - sx; break;                      // mirrored left to right
        case 3: dx = w - 1 - sx, dy = h - 1 - sy; break;     // upside down
        case 4: dy = h - 1 - sy; break;                      // mirrored top to bottom
        case 5: dx = sy, dy = sx; break;                     // transposed
        case 6: dx = h - 1 - sy, dy = sx; break;             // to be turned clockwise
        case 7: dx = h - 1 - sy, dy = w - 1 - sx; break;     // transversed
        case 8: dx = sy, dy = w - 1 - sx; break;             // to be turned anticlockwise
        default: break;
      }
      std::memcpy(&out.rgba[(std::size_t(dy) * out.width + dx) * 4],
                  &p.rgba[(std::size_t(sy) * w + sx) * 4], 4);
    }
  return out;
}

}  // namespace

std::optional<Picture> DecodeJpeg(const std::string& bytes) {
  Decompressor d;
  InitErrors(d.err);
  d.info.err = &d.err.mgr;
  if (!ReadHeader(d, bytes)) return std::nullopt;
  // Bounded before the library allocates anything for the pixels.
  std::optional<Picture> out = MakePicture(d.info.image_width, d.info.image_height);
  if (!out) return std::nullopt;
  if (!ReadRows(d, out->rgba.data())) return std::nullopt;
  if (d.info.output_width != out->width || d.info.output_height != out->height)
    return std::nullopt;
  if (d.info.out_color_space == JCS_CMYK) {
    // CMYK JPEG files are written inverted (Adobe's convention, which every writer follows):
    // a byte is 255 - ink, so the colour is the product of the byte and the black byte.
    for (std::size_t i = 0; i < out->rgba.size(); i += 4) {
      std::uint8_t* px = &out->rgba[i];
      const unsigned k = px[3];
      for (int c = 0; c < 3; ++c) px[c] = static_cast<std::uint8_t>((px[c] * k + 127) / 255);
      px[3] = 255;
    }
  }
  // A camera that stores its picture turned says so in the Exif block; the picture is handed on
  // upright, as every viewer shows it (the formats it is saved in carry no such note).
  if (d.orientation != 1) return Orient(*out, d.orientation);
  return out;
}

std::optional<std::string> EncodeJpeg(const Picture& p) {
  // No alpha in JPEG: the picture is laid over white.
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(p.width) * p.height * 3);
  for (std::size_t i = 0, j = 0; i < p.rgba.size(); i += 4, j += 3) {
    const unsigned a = p.rgba[i + 3];
    for (int c = 0; c < 3; ++c)
      rgb[j + c] = static_cast<std::uint8_t>((p.rgba[i + c] * a + 255 * (255 - a) + 127) / 255);
  }
  Compressor c;
  InitErrors(c.err);
  c.info.err = &c.err.mgr;
  if (!WriteRows(c, rgb.data(), p.width, p.height) || !c.buffer) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(c.buffer), c.size);
}

}  // namespace desktop::picture
