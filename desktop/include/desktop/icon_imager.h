// File icons as engine bitmaps: "IconManager.Manager" and the renderer CIconImagerCreator, which
// draws an icon once over black and once over white and recovers its alpha from the two.
#pragma once

#include "qv_engine.h"

#include <cstdint>
#include <memory>
#include <string>

namespace desktop {

// The cache key of a path: for an ".exe" (any case) the whole path in lower case, otherwise its
// extension with the dot in lower case ("" when it has none); then "_L" or "_S".
std::wstring IconCacheKey(const std::wstring& path, bool large);
// The extension of the path's last component, with its dot; "" when there is none.
std::wstring PathExtension(const std::wstring& path);
bool IsExePath(const std::wstring& path);

// Writes into each BGRA pixel of on_black the alpha that the two renderings of one picture
// give: (red over black - red over white - 1) mod 256, 255 where they agree, 0 where the
// background shows through whole. Strides are in pixels.
void RecoverAlpha(unsigned char* on_black, int black_stride, const unsigned char* on_white,
                  int white_stride, int width, int height);

// A 32-bit top-down BGRA drawing surface (on Windows a DIB section in a memory device
// context); implemented per system.
class IconCanvas {
 public:
  // Null when it cannot be made.
  static std::unique_ptr<IconCanvas> Create(int width, int height);
  ~IconCanvas();
  IconCanvas(const IconCanvas&) = delete;
  IconCanvas& operator=(const IconCanvas&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  // The rows, width() pixels each; drawing by the system is finished before they are given.
  unsigned char* pixels();
  // Sets every pixel to bgra (as a little-endian u32).
  void Fill(std::uint32_t bgra);
  // The system's drawing context (an HDC on Windows), null where there is none.
  void* context() const;

 private:
  struct Impl;
  IconCanvas(int width, int height, std::unique_ptr<Impl> impl);
  int width_;
  int height_;
  std::unique_ptr<Impl> impl_;
};

// One icon to render: the system's icon, or a picture made by a test.
class IconSource {
 public:
  virtual ~IconSource() = default;
  // The size of the icon's colour picture; false when the icon cannot be queried.
  virtual bool Size(int& width, int& height) = 0;
  // Draws the icon at (0, 0) with that size over what the canvas holds (image and mask).
  virtual bool Draw(IconCanvas& canvas, int width, int height) = 0;
};

// Renders icons on one shared canvas, which only grows (it starts at 64 x 64). UI thread only.
class CIconImagerCreator {
 public:
  static constexpr int kStartSize = 64;
  // Larger icons are refused, so a bad icon cannot make the canvas huge.
  static constexpr int kMaxIconSize = 1024;

  CIconImagerCreator() = default;
  CIconImagerCreator(const CIconImagerCreator&) = delete;
  CIconImagerCreator& operator=(const CIconImagerCreator&) = delete;

  // A new engine bitmap of the icon's size with its alpha recovered, holding one reference;
  // null on failure.
  QV_BITMAP Render(IconSource& icon);

  const IconCanvas* canvas() const { return canvas_.get(); }

 private:
  std::unique_ptr<IconCanvas> canvas_;
  int max_width_ = kStartSize;
  int max_height_ = kStartSize;
};

// "IconManager.Manager" of class "IconManager.Manager.Class"; renders through the
// CIconImagerCreator singleton that start-up creates.
void RegisterIconManager(QVLRT_ENV env);
// Lets the cached bitmaps go (shutdown).
void ReleaseIconManager();

}  // namespace desktop
