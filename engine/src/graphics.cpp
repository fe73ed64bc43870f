// Headless graphics: the initialisations have nothing to set up; bitmaps are reference-counted
// 32-bit BGRA pixel buffers.
#include "qv_engine.h"

#include <atomic>
#include <new>
#include <vector>

#include <lauxlib.h>

struct qv_bitmap {
  int width;
  int height;
  std::atomic<int> refs{1};
  std::vector<unsigned char> pixels;
};

int QV_PrepareGraphicParam(QV_GRAPHIC_PARAM* param) {
  if (!param) return 1;
  *param = QV_GRAPHIC_PARAM{};
  return 0;
}
int QV_InitGraphicLib(QV_GRAPHIC_PARAM* param) { return param ? 0 : 1; }
int QV_SetFreeTypeEnabled(int) { return 0; }
int QVGP_PrepareGraphicPlusParam(QVGP_GRAPHICPLUS_PARAM* param) {
  if (!param) return 1;
  *param = QVGP_GRAPHICPLUS_PARAM{};
  return 0;
}
int QVGP_InitGraphicPlus(QVGP_GRAPHICPLUS_PARAM* param) { return param ? 0 : 1; }

QV_BITMAP QV_CreateBitmap(int format, int width, int height) {
  constexpr long long kMaxPixels = 64LL * 1024 * 1024;
  if (format != 0 || width <= 0 || height <= 0 ||
      static_cast<long long>(width) * height > kMaxPixels)
    return nullptr;
  // Owned by its reference count: QV_ReleaseBitmap frees it at zero.
  auto* b = new (std::nothrow) qv_bitmap;
  if (!b) return nullptr;
  b->width = width;
  b->height = height;
  try {
    b->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
  } catch (const std::bad_alloc&) {
    delete b;
    return nullptr;
  }
  return b;
}

unsigned char* QV_GetBitmapBuffer(QV_BITMAP bitmap, int* width, int* height) {
  if (!bitmap) return nullptr;
  if (width) *width = bitmap->width;
  if (height) *height = bitmap->height;
  return bitmap->pixels.data();
}

int QV_AddRefBitmap(QV_BITMAP bitmap) { return bitmap ? ++bitmap->refs : 0; }

int QV_ReleaseBitmap(QV_BITMAP bitmap) {
  if (!bitmap) return 0;
  int left = --bitmap->refs;
  if (left == 0) delete bitmap;
  return left;
}

int QV_PushBitmap(lua_State* L, QV_BITMAP bitmap) {
  if (!L || !bitmap) return 1;
  QV_AddRefBitmap(bitmap);
  return QVLRT_PushQVObject(L, QV_BITMAP_CLASS, bitmap);
}
