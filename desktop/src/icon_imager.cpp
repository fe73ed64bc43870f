#include "desktop/icon_imager.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

namespace desktop {
namespace {

std::wstring lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return s;
}

}  // namespace

std::wstring PathExtension(const std::wstring& path) {
  const std::size_t name = path.find_last_of(L"\\/");
  const std::size_t start = name == std::wstring::npos ? 0 : name + 1;
  const std::size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || dot < start) return std::wstring();
  return path.substr(dot);
}

bool IsExePath(const std::wstring& path) { return lower(PathExtension(path)) == L".exe"; }

std::wstring IconCacheKey(const std::wstring& path, bool large) {
  std::wstring key = IsExePath(path) ? lower(path) : lower(PathExtension(path));
  key += large ? L"_L" : L"_S";
  return key;
}

void RecoverAlpha(unsigned char* on_black, int black_stride, const unsigned char* on_white,
                  int white_stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    unsigned char* b = on_black + static_cast<std::size_t>(y) * black_stride * 4;
    const unsigned char* w = on_white + static_cast<std::size_t>(y) * white_stride * 4;
    for (int x = 0; x < width; ++x) {
      // Red over black is a * red; over white a * red + (255 - a): their difference is 255 - a.
      b[4 * x + 3] = static_cast<unsigned char>(b[4 * x + 2] - w[4 * x + 2] - 1);
    }
  }
}

void IconCanvas::Fill(std::uint32_t bgra) {
  unsigned char* p = pixels();
  if (!p) return;
  unsigned char px[4] = {static_cast<unsigned char>(bgra), static_cast<unsigned char>(bgra >> 8),
                         static_cast<unsigned char>(bgra >> 16),
                         static_cast<unsigned char>(bgra >> 24)};
  const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  for (std::size_t i = 0; i < count; ++i) std::memcpy(p + 4 * i, px, 4);
}

QV_BITMAP CIconImagerCreator::Render(IconSource& icon) {
  int w = 0, h = 0;
  if (!icon.Size(w, h) || w <= 0 || h <= 0 || w > kMaxIconSize || h > kMaxIconSize)
    return nullptr;
  if (!canvas_ || canvas_->width() < w || canvas_->height() < h) {
    max_width_ = std::max(max_width_, w);
    max_height_ = std::max(max_height_, h);
    canvas_.reset();
    canvas_ = IconCanvas::Create(max_width_, max_height_);
    if (!canvas_) return nullptr;
  }
  canvas_->Fill(0x00000000u);
  if (!icon.Draw(*canvas_, w, h)) return nullptr;
  std::unique_ptr<IconCanvas> white = IconCanvas::Create(w, h);
  if (!white) return nullptr;
  white->Fill(0xFFFFFFFFu);
  if (!icon.Draw(*white, w, h)) return nullptr;

  unsigned char* black_px = canvas_->pixels();
  const unsigned char* white_px = white->pixels();
  if (!black_px || !white_px) return nullptr;
  RecoverAlpha(black_px, canvas_->width(), white_px, w, w, h);

  QV_BITMAP bitmap = QV_CreateBitmap(0, w, h);
  unsigned char* out = bitmap ? QV_GetBitmapBuffer(bitmap, nullptr, nullptr) : nullptr;
  if (!out) {
    if (bitmap) QV_ReleaseBitmap(bitmap);
    return nullptr;
  }
  const std::size_t row = static_cast<std::size_t>(w) * 4;
  const std::size_t canvas_row = static_cast<std::size_t>(canvas_->width()) * 4;
  for (int y = 0; y < h; ++y) std::memcpy(out + y * row, black_px + y * canvas_row, row);
  return bitmap;
}

}  // namespace desktop
