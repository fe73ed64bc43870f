// PNG through libpng's simplified interface, which keeps libpng's error handling inside the
// library: a bad file is a failed call, never a jump through our frames.
#include "picture_codecs.h"

#include <png.h>

namespace desktop::picture {

namespace {

struct ImageGuard {
  png_image* image;
  ~ImageGuard() { png_image_free(image); }
};

}  // namespace

std::optional<Picture> DecodePng(const std::string& bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ImageGuard guard{&image};
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return std::nullopt;
  std::optional<Picture> out = MakePicture(image.width, image.height);  // bounded first
  if (!out) return std::nullopt;
  image.format = PNG_FORMAT_RGBA;
  // A 16-bit file that says nothing about its gamma is sRGB, as other programs take it, not
  // linear light (which would brighten its mid-tones).
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  if (!png_image_finish_read(&image, nullptr, out->rgba.data(),
                             static_cast<png_int_32>(out->width * 4), nullptr))
    return std::nullopt;
  return out;
}

std::optional<std::string> EncodePng(const Picture& p) {
  const bool alpha = !Opaque(p);
  const unsigned channels = alpha ? 4 : 3;
  std::vector<std::uint8_t> rgb;
  const std::uint8_t* pixels = p.rgba.data();
  if (!alpha) {
    rgb.resize(static_cast<std::size_t>(p.width) * p.height * 3);
    for (std::size_t i = 0, j = 0; i < p.rgba.size(); i += 4, j += 3) {
      rgb[j] = p.rgba[i];
      rgb[j + 1] = p.rgba[i + 1];
      rgb[j + 2] = p.rgba[i + 2];
    }
    pixels = rgb.data();
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = p.width;
  image.height = p.height;
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  ImageGuard guard{&image};
  const png_int_32 stride = static_cast<png_int_32>(p.width * channels);
  png_alloc_size_t size = 0;
  // The first call measures, the second writes into a buffer of that size.
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels, stride, nullptr))
    return std::nullopt;
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels, stride, nullptr))
    return std::nullopt;
  out.resize(size);
  return out;
}

}  // namespace desktop::picture
