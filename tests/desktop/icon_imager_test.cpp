#include "desktop/icon_imager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(IconCacheKey, FollowsTheExtensionExceptForPrograms) {
  const struct {
    std::wstring path;
    bool large;
    std::wstring key;
  } cases[] = {
      {L"C:\\Docs\\Report.TXT", false, L".txt_S"},
      {L"D:\\other\\notes.txt", false, L".txt_S"},  // the same key: one shared bitmap
      {L"C:\\Docs\\Report.txt", true, L".txt_L"},   // large and small apart
      {L"C:\\Apps\\Tool.EXE", true, L"c:\\apps\\tool.exe_L"},
      {L"C:\\Apps\\Other.exe", true, L"c:\\apps\\other.exe_L"},
      {L"C:\\Docs\\README", false, L"_S"},
      {L"C:\\Docs\\README", true, L"_L"},
      {L"C:\\my.dir\\README", true, L"_L"},  // a dot in a folder is no extension
      {L"/home/u/a.tar.gz", false, L".gz_S"},
      {L"archive.", false, L"._S"},
      {L"", false, L"_S"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(desktop::IconCacheKey(c.path, c.large), c.key) << std::string(c.path.begin(), c.path.end());
  EXPECT_NE(desktop::IconCacheKey(L"C:\\a.exe", true), desktop::IconCacheKey(L"C:\\b.exe", true));
}

// A test icon: a picture with its own alpha, drawn the way the system draws an icon (each
// colour blended over what the canvas holds).
class PictureIcon : public desktop::IconSource {
 public:
  PictureIcon(int w, int h, std::vector<std::uint32_t> argb) : w_(w), h_(h), argb_(std::move(argb)) {}
  bool Size(int& w, int& h) override {
    w = w_;
    h = h_;
    return true;
  }
  bool Draw(desktop::IconCanvas& canvas, int w, int h) override {
    ++draws;
    unsigned char* px = canvas.pixels();
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const std::uint32_t c = argb_[static_cast<std::size_t>(y * w_ + x)];
        const unsigned a = c >> 24;
        unsigned char* p = px + 4 * (static_cast<std::size_t>(y) * canvas.width() + x);
        for (int ch = 0; ch < 3; ++ch) {
          const unsigned colour = (c >> (8 * ch)) & 0xFF;
          p[ch] = static_cast<unsigned char>((colour * a + p[ch] * (255 - a)) / 255);
        }
      }
    }
    return true;
  }
  int draws = 0;

 private:
  int w_, h_;
  std::vector<std::uint32_t> argb_;
};

class Bitmap {
 public:
  explicit Bitmap(QV_BITMAP b) : b_(b) {}
  ~Bitmap() {
    if (b_) QV_ReleaseBitmap(b_);
  }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  QV_BITMAP get() const { return b_; }
  // BGRA of one pixel as 0xAARRGGBB.
  std::uint32_t at(int x, int y) const {
    int w = 0;
    const unsigned char* p = QV_GetBitmapBuffer(b_, &w, nullptr) + 4 * (y * w + x);
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
  }
  int width() const {
    int w = 0;
    QV_GetBitmapBuffer(b_, &w, nullptr);
    return w;
  }
  int height() const {
    int h = 0;
    QV_GetBitmapBuffer(b_, nullptr, &h);
    return h;
  }

 private:
  QV_BITMAP b_;
};

TEST(IconImager, RecoversAlphaFromTheBlackAndWhiteRenderings) {
  // 3 x 2: transparent, opaque red, half-transparent; opaque white, opaque black, quarter.
  PictureIcon icon(3, 2, {0x00123456, 0xFFFF0000, 0x80C86432, 0xFFFFFFFF, 0xFF000000, 0x40FFFFFF});
  desktop::CIconImagerCreator creator;
  Bitmap b(creator.Render(icon));
  ASSERT_NE(b.get(), nullptr);
  EXPECT_EQ(icon.draws, 2);
  ASSERT_EQ(b.width(), 3);
  ASSERT_EQ(b.height(), 2);
  EXPECT_EQ(b.at(0, 0), 0x00000000u);
  EXPECT_EQ(b.at(1, 0), 0xFFFF0000u);
  EXPECT_EQ(b.at(2, 0) >> 24, 0x80u);
  EXPECT_EQ(b.at(2, 0) & 0xFFFFFF, 0x643219u);  // the colours as drawn over black
  EXPECT_EQ(b.at(0, 1), 0xFFFFFFFFu);
  EXPECT_EQ(b.at(1, 1), 0xFF000000u);
  EXPECT_EQ(b.at(2, 1) >> 24, 0x40u);

  unsigned char black[8] = {0, 0, 0, 0, 10, 20, 30, 0};
  const unsigned char white[8] = {255, 255, 255, 0, 10, 20, 30, 0};
  desktop::RecoverAlpha(black, 2, white, 2, 2, 1);
  EXPECT_EQ(black[3], 0);
  EXPECT_EQ(black[7], 255);
}

std::vector<std::uint32_t> solid(int w, int h, std::uint32_t argb) {
  return std::vector<std::uint32_t>(static_cast<std::size_t>(w * h), argb);
}

TEST(IconImager, TheCanvasStartsAt64AndOnlyGrows) {
  desktop::CIconImagerCreator creator;
  EXPECT_EQ(creator.canvas(), nullptr);

  PictureIcon big(48, 48, solid(48, 48, 0xFFFF0000));
  Bitmap b48(creator.Render(big));
  ASSERT_NE(b48.get(), nullptr);
  const desktop::IconCanvas* canvas = creator.canvas();
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas->width(), 64);
  EXPECT_EQ(canvas->height(), 64);

  // A 16 x 16 after the 48 x 48 reuses the canvas and takes only its own 16 pixels per row.
  PictureIcon small(16, 16, solid(16, 16, 0xFF00FF00));
  Bitmap b16(creator.Render(small));
  ASSERT_NE(b16.get(), nullptr);
  EXPECT_EQ(creator.canvas(), canvas);
  ASSERT_EQ(b16.width(), 16);
  ASSERT_EQ(b16.height(), 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(b16.at(x, y), 0xFF00FF00u) << x << "," << y;
  EXPECT_EQ(b48.at(47, 47), 0xFFFF0000u);  // the earlier bitmap is its own

  // Wider than the canvas: it grows to cover the icon, keeping the larger height.
  PictureIcon wide(100, 20, solid(100, 20, 0xFF0000FF));
  Bitmap b100(creator.Render(wide));
  ASSERT_NE(b100.get(), nullptr);
  EXPECT_EQ(creator.canvas()->width(), 100);
  EXPECT_EQ(creator.canvas()->height(), 64);
  EXPECT_EQ(b100.at(99, 19), 0xFF0000FFu);
}

class FailingIcon : public desktop::IconSource {
 public:
  FailingIcon(int w, int h, bool size_ok, bool draw_ok) : w_(w), h_(h), size_ok_(size_ok), draw_ok_(draw_ok) {}
  bool Size(int& w, int& h) override {
    w = w_;
    h = h_;
    return size_ok_;
  }
  bool Draw(desktop::IconCanvas&, int, int) override { return draw_ok_; }

 private:
  int w_, h_;
  bool size_ok_, draw_ok_;
};

TEST(IconImager, AnIconThatCannotBeRenderedGivesNoBitmap) {
  const struct {
    const char* what;
    int w, h;
    bool size_ok, draw_ok;
  } cases[] = {
      {"size query fails", 16, 16, false, true},
      {"drawing fails", 16, 16, true, false},
      {"empty", 0, 16, true, true},
      {"negative", 16, -1, true, true},
      {"too large", desktop::CIconImagerCreator::kMaxIconSize + 1, 16, true, true},
  };
  for (const auto& c : cases) {
    desktop::CIconImagerCreator creator;
    FailingIcon icon(c.w, c.h, c.size_ok, c.draw_ok);
    EXPECT_EQ(creator.Render(icon), nullptr) << c.what;
  }
}

}  // namespace
