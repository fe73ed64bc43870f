#include "desktop/picture.h"

#include "apphelp_os.h"
#include "file_util.h"
#include "picture_codecs.h"

#include <boost/gil/extension/numeric/resample.hpp>
#include <boost/gil/extension/numeric/sampler.hpp>
#include <boost/gil/image_view_factory.hpp>
#include <boost/gil/typedefs.hpp>

#include <algorithm>
#include <cmath>
#include <new>

namespace desktop::picture {

std::optional<Picture> MakePicture(std::uint64_t width, std::uint64_t height) {
  if (!SizeAllowed(width, height)) return std::nullopt;
  Picture p;
  p.width = static_cast<std::uint32_t>(width);
  p.height = static_cast<std::uint32_t>(height);
  p.rgba.assign(static_cast<std::size_t>(width * height * 4), 0);
  return p;
}

bool Opaque(const Picture& picture) {
  for (std::size_t i = 3; i < picture.rgba.size(); i += 4)
    if (picture.rgba[i] != 255) return false;
  return true;
}

namespace {

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }

// A picture whose buffer does not match its size is not taken (it would be read out of bounds).
bool WellFormed(const Picture& p) {
  return SizeAllowed(p.width, p.height) &&
         p.rgba.size() == static_cast<std::size_t>(p.width) * p.height * 4;
}

// Shrinks by averaging blocks of about kx by ky pixels (block edges spread evenly, so every source
// pixel counts). Colours are weighted by their alpha, so transparent pixels do not darken.
Picture BoxReduce(const Picture& p, std::uint32_t kx, std::uint32_t ky) {
  Picture out;
  out.width = p.width / kx;
  out.height = p.height / ky;
  out.rgba.resize(static_cast<std::size_t>(out.width) * out.height * 4);
  for (std::uint32_t oy = 0; oy < out.height; ++oy) {
    const std::uint64_t y0 = std::uint64_t(oy) * p.height / out.height;
    const std::uint64_t y1 = std::uint64_t(oy + 1) * p.height / out.height;
    for (std::uint32_t ox = 0; ox < out.width; ++ox) {
      const std::uint64_t x0 = std::uint64_t(ox) * p.width / out.width;
      const std::uint64_t x1 = std::uint64_t(ox + 1) * p.width / out.width;
      std::uint64_t sum[4] = {0, 0, 0, 0};
      for (std::uint64_t y = y0; y < y1; ++y)
        for (std::uint64_t x = x0; x < x1; ++x) {
          const std::uint8_t* px = &p.rgba[static_cast<std::size_t>((y * p.width + x) * 4)];
          for (int c = 0; c < 3; ++c) sum[c] += std::uint64_t(px[c]) * px[3];
          sum[3] += px[3];
        }
      const std::uint64_t n = (y1 - y0) * (x1 - x0);
      std::uint8_t* dst = &out.rgba[(static_cast<std::size_t>(oy) * out.width + ox) * 4];
      for (int c = 0; c < 3; ++c)
        dst[c] = static_cast<std::uint8_t>(sum[3] ? (sum[c] + sum[3] / 2) / sum[3] : 0);
      dst[3] = static_cast<std::uint8_t>((sum[3] + n / 2) / n);
    }
  }
  return out;
}

}  // namespace

std::optional<Format> FormatOf(const std::u16string& path) {
  const std::size_t name = path.find_last_of(u"\\/");
  const std::size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || (name != std::u16string::npos && dot < name)) return {};
  std::u16string ext = path.substr(dot + 1);
  for (char16_t& c : ext) c = Lower(c);
  if (ext == u"png") return Format::kPng;
  if (ext == u"jpg" || ext == u"jpeg" || ext == u"jpe" || ext == u"jfif") return Format::kJpeg;
  if (ext == u"bmp" || ext == u"dib") return Format::kBmp;
  if (ext == u"tif" || ext == u"tiff") return Format::kTiff;
  return {};
}

std::optional<Picture> Decode(const std::string& bytes, Format format) {
  try {
    switch (format) {
      case Format::kPng: return DecodePng(bytes);
      case Format::kJpeg: return DecodeJpeg(bytes);
      case Format::kBmp: return DecodeBmp(bytes);
      case Format::kTiff: return DecodeTiff(bytes);
    }
  } catch (const std::bad_alloc&) {
    // Within the bounds, but more than this process could get.
  }
  return std::nullopt;
}

std::optional<std::string> Encode(const Picture& picture, Format format) {
  if (!WellFormed(picture)) return std::nullopt;
  try {
    switch (format) {
      case Format::kPng: return EncodePng(picture);
      case Format::kJpeg: return EncodeJpeg(picture);
      case Format::kBmp: return EncodeBmp(picture);
      case Format::kTiff: return EncodeTiff(picture);
    }
  } catch (const std::bad_alloc&) {
  }
  return std::nullopt;
}

std::optional<Picture> Resample(const Picture& picture, double fx, double fy) {
  namespace gil = boost::gil;
  if (!WellFormed(picture)) return std::nullopt;
  if (!std::isfinite(fx) || !std::isfinite(fy) || fx <= 0 || fy <= 0) return std::nullopt;
  const double w = std::round(picture.width * fx);
  const double h = std::round(picture.height * fy);
  // Compared as doubles first, so that a huge factor never reaches an integer conversion.
  if (!(w >= 1 && h >= 1 && w <= kMaxSide && h <= kMaxSide)) return std::nullopt;
  try {
    std::optional<Picture> out = MakePicture(static_cast<std::uint64_t>(w),
                                             static_cast<std::uint64_t>(h));
    if (!out) return std::nullopt;
    // Bilinear sampling looks at 2 x 2 pixels only, so a reduction by more than half would skip
    // pixels (and alias); whole factors of it are averaged first.
    const std::uint32_t kx = picture.width / out->width, ky = picture.height / out->height;
    std::optional<Picture> reduced;
    if (kx >= 2 || ky >= 2)
      reduced = BoxReduce(picture, std::max(kx, 1u), std::max(ky, 1u));
    const Picture& in = reduced ? *reduced : picture;
    const auto src = gil::interleaved_view(
        in.width, in.height, reinterpret_cast<const gil::rgba8_pixel_t*>(in.rgba.data()),
        in.width * 4);
    const auto dst = gil::interleaved_view(out->width, out->height,
                                           reinterpret_cast<gil::rgba8_pixel_t*>(out->rgba.data()),
                                           out->width * 4);
    // Pixel centres map onto pixel centres: x_src = (x_dst + 0.5) * sw / dw - 0.5. The sampler
    // takes the edge pixel for the half pixel beyond the first and last centres.
    using matrix = gil::matrix3x2<double>;
    const matrix map = matrix::get_translate(0.5, 0.5) *
                       matrix::get_scale(double(in.width) / out->width,
                                         double(in.height) / out->height) *
                       matrix::get_translate(-0.5, -0.5);
    gil::resample_pixels(src, dst, map, gil::bilinear_sampler());
    return out;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<Picture> Load(const std::u16string& path) {
  const std::optional<Format> format = FormatOf(path);
  if (!format) return std::nullopt;
  std::optional<std::string> bytes;
  try {
    bytes = ReadWholeFile(path, kMaxFileBytes);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!bytes) return std::nullopt;
  return Decode(*bytes, *format);
}

bool Save(const Picture& picture, const std::u16string& path) {
  const std::optional<Format> format = FormatOf(path);
  if (!format) return false;
  const std::optional<std::string> bytes = Encode(picture, *format);
  return bytes && os::write_file_atomic(path, *bytes);
}

bool Zoom(const std::u16string& source, double fx, double fy, const std::u16string& destination) {
  if (!FormatOf(destination)) return false;
  const std::optional<Picture> in = Load(source);
  if (!in) return false;
  const std::optional<Picture> out = Resample(*in, fx, fy);
  return out && Save(*out, destination);
}

bool Convert(const std::u16string& source, const std::u16string& destination) {
  if (!FormatOf(destination)) return false;
  const std::optional<Picture> in = Load(source);
  return in && Save(*in, destination);
}

}  // namespace desktop::picture
