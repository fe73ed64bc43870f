// Pictures loaded, resampled and saved by file extension: PNG, JPEG, BMP and TIFF.
//
// A picture in memory is 8-bit RGBA with straight (not premultiplied) alpha. Loading bounds the
// picture's size from its header before anything is decoded, and saving writes a temporary file
// beside the destination that takes the destination's place only when it is complete, so a
// failure never leaves a partial file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace desktop::picture {

enum class Format { kPng, kJpeg, kBmp, kTiff };

// The largest picture taken from a file or made by resampling: each side, and the pixel count
// (four bytes a pixel in memory, so 128 MiB at most).
constexpr std::uint32_t kMaxSide = 16384;
constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 25;
// The largest source file read.
constexpr std::size_t kMaxFileBytes = std::size_t(256) << 20;

struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;  // rows top to bottom, R, G, B, A for each pixel
};

// The format named by the path's extension without regard to case: .png; .jpg, .jpeg, .jpe,
// .jfif; .bmp, .dib; .tif, .tiff. Nothing for any other extension or none. Either separator.
std::optional<Format> FormatOf(const std::u16string& path);

// The picture held by the bytes of a file of that format; nothing when the bytes are not a
// readable picture of the format, or the picture is larger than the bounds above. A JPEG picture
// whose Exif block says it is stored turned or mirrored is turned upright (TIFF too, through its
// orientation tag).
std::optional<Picture> Decode(const std::string& bytes, Format format);

// The file bytes of the picture. Alpha is kept by PNG, TIFF and BMP (32 bits a pixel) when some
// pixel is not opaque; JPEG has none and gets the picture laid over white.
std::optional<std::string> Encode(const Picture& picture, Format format);

// The picture resampled to round(width * fx) by round(height * fy): bilinear, after averaging
// blocks of pixels where it shrinks to half or less. Nothing when a factor is not finite and
// positive, or the result would be empty or beyond the bounds.
std::optional<Picture> Resample(const Picture& picture, double fx, double fy);

// Decode / Encode of a file in the format of its extension.
std::optional<Picture> Load(const std::u16string& path);
bool Save(const Picture& picture, const std::u16string& path);

// Load, Resample, Save: whether all three worked. Nothing is written on failure.
bool Zoom(const std::u16string& source, double fx, double fy, const std::u16string& destination);
// Load, Save.
bool Convert(const std::u16string& source, const std::u16string& destination);

}  // namespace desktop::picture
