// libtiff on demand: only TIFF pictures use it, and the library with its codecs (WebP, LERC,
// JBIG, ...) was part of the host's start-up.
#include "ondemand_library_posix.h"

#include <tiffio.h>

#include <cstdarg>
#include <type_traits>

namespace {

qv::ondemand::library& lib() {
  static qv::ondemand::library l(TIV_ONDEMAND_SONAME);
  return l;
}

// The variadic functions pass their arguments on through libtiff's va_list variants.
template <typename F>
int forward_va(const char* real_name, TIFF* tif, uint32_t tag, va_list ap) {
  static_assert(std::is_same<F, int (*)(TIFF*, uint32_t, va_list)>::value, "va_list variant");
  const auto real = reinterpret_cast<F>(lib().symbol(real_name));
  return real ? real(tif, tag, ap) : 0;
}

}  // namespace

TIV_ONDEMAND(TIFFOpenOptions*, TIFFOpenOptionsAlloc, (void), (), nullptr)
TIV_ONDEMAND_VOID(TIFFOpenOptionsFree, (TIFFOpenOptions * opts), (opts))
TIV_ONDEMAND_VOID(TIFFOpenOptionsSetMaxSingleMemAlloc, (TIFFOpenOptions * opts, tmsize_t max),
                  (opts, max))
TIV_ONDEMAND_VOID(TIFFOpenOptionsSetErrorHandlerExtR,
                  (TIFFOpenOptions * opts, TIFFErrorHandlerExtR handler, void* data),
                  (opts, handler, data))
TIV_ONDEMAND_VOID(TIFFOpenOptionsSetWarningHandlerExtR,
                  (TIFFOpenOptions * opts, TIFFErrorHandlerExtR handler, void* data),
                  (opts, handler, data))
TIV_ONDEMAND(TIFF*, TIFFClientOpenExt,
             (const char* name, const char* mode, thandle_t handle, TIFFReadWriteProc read,
              TIFFReadWriteProc write, TIFFSeekProc seek, TIFFCloseProc close,
              TIFFSizeProc size, TIFFMapFileProc map, TIFFUnmapFileProc unmap,
              TIFFOpenOptions* opts),
             (name, mode, handle, read, write, seek, close, size, map, unmap, opts), nullptr)
TIV_ONDEMAND_VOID(TIFFClose, (TIFF * tif), (tif))
TIV_ONDEMAND(uint32_t, TIFFDefaultStripSize, (TIFF * tif, uint32_t request), (tif, request), 0)
TIV_ONDEMAND(int, TIFFIsTiled, (TIFF * tif), (tif), 0)
TIV_ONDEMAND(int, TIFFRGBAImageOK, (TIFF * tif, char message[1024]), (tif, message), 0)
TIV_ONDEMAND(int, TIFFReadRGBAImageOriented,
             (TIFF * tif, uint32_t w, uint32_t h, uint32_t* raster, int orientation, int stop),
             (tif, w, h, raster, orientation, stop), 0)
TIV_ONDEMAND(int, TIFFReadScanline, (TIFF * tif, void* buf, uint32_t row, uint16_t sample),
             (tif, buf, row, sample), -1)
TIV_ONDEMAND(int, TIFFWriteScanline, (TIFF * tif, void* buf, uint32_t row, uint16_t sample),
             (tif, buf, row, sample), -1)
TIV_ONDEMAND(uint64_t, TIFFScanlineSize64, (TIFF * tif), (tif), 0)
TIV_ONDEMAND(int, TIFFWriteDirectory, (TIFF * tif), (tif), 0)

extern "C" int TIFFSetField(TIFF* tif, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const int r = forward_va<decltype(&TIFFVSetField)>("TIFFVSetField", tif, tag, ap);
  va_end(ap);
  return r;
}

extern "C" int TIFFGetField(TIFF* tif, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const int r = forward_va<decltype(&TIFFVGetField)>("TIFFVGetField", tif, tag, ap);
  va_end(ap);
  return r;
}

extern "C" int TIFFGetFieldDefaulted(TIFF* tif, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const int r =
      forward_va<decltype(&TIFFVGetFieldDefaulted)>("TIFFVGetFieldDefaulted", tif, tag, ap);
  va_end(ap);
  return r;
}
