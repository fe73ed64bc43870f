// JPEG through libjpeg-turbo. The library reports a fatal error by calling error_exit, which
// must not return; it jumps back to a setjmp in a function of ours that holds no object with a
// destructor, so the jump leaves only library frames. Everything that owns memory lives in the
// callers, which the jump never crosses.
#include "picture_codecs.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

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

struct Decompressor {
  ErrorManager err;
  jpeg_decompress_struct info;
  bool created = false;
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
  if (jpeg_read_header(&d.info, TRUE) != JPEG_HEADER_OK) return false;
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
