#include "icon_os.h"

#include <windows.h>

#include <shellapi.h>

namespace desktop::os {
namespace {

class hicon_source : public IconSource {
 public:
  explicit hicon_source(HICON icon) : icon_(icon) {}
  ~hicon_source() override { DestroyIcon(icon_); }
  hicon_source(const hicon_source&) = delete;
  hicon_source& operator=(const hicon_source&) = delete;

  bool Size(int& width, int& height) override {
    ICONINFO info{};
    if (!GetIconInfo(icon_, &info)) return false;
    BITMAP bm{};
    bool ok = false;
    if (info.hbmColor) {
      ok = GetObjectW(info.hbmColor, sizeof bm, &bm) != 0;
      width = bm.bmWidth;
      height = bm.bmHeight;
    } else if (info.hbmMask) {
      // A monochrome icon keeps its AND and XOR masks one above the other.
      ok = GetObjectW(info.hbmMask, sizeof bm, &bm) != 0;
      width = bm.bmWidth;
      height = bm.bmHeight / 2;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return ok;
  }

  bool Draw(IconCanvas& canvas, int width, int height) override {
    HDC dc = static_cast<HDC>(canvas.context());
    return dc && DrawIconEx(dc, 0, 0, icon_, width, height, 0, nullptr, DI_NORMAL) != 0;
  }

 private:
  HICON icon_;
};

HICON shell_file_icon(const wchar_t* name, DWORD attributes, UINT flags) {
  SHFILEINFOW info{};
  if (!SHGetFileInfoW(name, attributes, &info, sizeof info, SHGFI_ICON | flags)) return nullptr;
  return info.hIcon;
}

}  // namespace

std::unique_ptr<IconSource> shell_icon(const std::wstring& path, bool large) {
  HICON icon = nullptr;
  if (IsExePath(path)) {
    if (ExtractIconExW(path.c_str(), 0, &icon, nullptr, 1) == 0) icon = nullptr;
    if (!icon) icon = shell_file_icon(path.c_str(), 0, SHGFI_LARGEICON);
  } else {
    const std::wstring ext = PathExtension(path);
    icon = shell_file_icon(ext.c_str(), FILE_ATTRIBUTE_NORMAL,
                           SHGFI_USEFILEATTRIBUTES | (large ? SHGFI_LARGEICON : SHGFI_SMALLICON));
  }
  if (!icon) return nullptr;
  return std::make_unique<hicon_source>(icon);
}

}  // namespace desktop::os
