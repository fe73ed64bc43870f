// Without a system drawing context the canvas is plain memory; only pictures made by the
// program itself are drawn on it.
#include "desktop/icon_imager.h"

#include <new>
#include <vector>

namespace desktop {

struct IconCanvas::Impl {
  std::vector<unsigned char> pixels;
};

std::unique_ptr<IconCanvas> IconCanvas::Create(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
  return std::unique_ptr<IconCanvas>(new IconCanvas(width, height, std::move(impl)));
}

IconCanvas::IconCanvas(int width, int height, std::unique_ptr<Impl> impl)
    : width_(width), height_(height), impl_(std::move(impl)) {}

IconCanvas::~IconCanvas() = default;

unsigned char* IconCanvas::pixels() { return impl_->pixels.data(); }

void* IconCanvas::context() const { return nullptr; }

}  // namespace desktop
