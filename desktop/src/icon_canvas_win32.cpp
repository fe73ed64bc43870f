// The canvas is a 32-bit top-down DIB section selected into a memory device context, so the
// system draws icons straight into pixels the program reads.
#include "desktop/icon_imager.h"

#include <windows.h>

namespace desktop {

struct IconCanvas::Impl {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  ~Impl() {
    if (dc && old) SelectObject(dc, old);
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
  }
};

std::unique_ptr<IconCanvas> IconCanvas::Create(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->dc = CreateCompatibleDC(nullptr);
  if (!impl->dc) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  impl->bitmap = CreateDIBSection(impl->dc, &info, DIB_RGB_COLORS, &impl->bits, nullptr, 0);
  if (!impl->bitmap || !impl->bits) return nullptr;
  impl->old = SelectObject(impl->dc, impl->bitmap);
  return std::unique_ptr<IconCanvas>(new IconCanvas(width, height, std::move(impl)));
}

IconCanvas::IconCanvas(int width, int height, std::unique_ptr<Impl> impl)
    : width_(width), height_(height), impl_(std::move(impl)) {}

IconCanvas::~IconCanvas() = default;

unsigned char* IconCanvas::pixels() {
  GdiFlush();  // drawing queued by GDI lands in the bits first
  return static_cast<unsigned char*>(impl_->bits);
}

void* IconCanvas::context() const { return impl_->dc; }

}  // namespace desktop
