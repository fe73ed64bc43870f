// One decoder and encoder per picture format, over the bytes of a whole file.
#pragma once

#include "desktop/picture.h"

#include <cstdint>
#include <optional>
#include <string>

namespace desktop::picture {

// Whether a picture of that size may be decoded or made (checked before any pixel buffer exists).
inline bool SizeAllowed(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
         width * height <= kMaxPixels;
}

// An empty picture of that size (all pixels transparent black), or nothing beyond the bounds.
std::optional<Picture> MakePicture(std::uint64_t width, std::uint64_t height);

// Whether every pixel has alpha 255.
bool Opaque(const Picture& picture);

std::optional<Picture> DecodePng(const std::string& bytes);
std::optional<std::string> EncodePng(const Picture& picture);
std::optional<Picture> DecodeJpeg(const std::string& bytes);
std::optional<std::string> EncodeJpeg(const Picture& picture);
std::optional<Picture> DecodeBmp(const std::string& bytes);
std::optional<std::string> EncodeBmp(const Picture& picture);
std::optional<Picture> DecodeTiff(const std::string& bytes);
std::optional<std::string> EncodeTiff(const Picture& picture);

}  // namespace desktop::picture
