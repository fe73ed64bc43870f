#include "desktop/shell_data.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

void put_u32(bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A DROPFILES header with the given offset and fWide, followed by the payload.
bytes drop_block(std::uint32_t offset, bool wide, const bytes& payload) {
  bytes b(desktop::kDropFilesHeaderSize, 0);
  put_u32(b, 0, offset);
  put_u32(b, 16, wide ? 1 : 0);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

bytes wide_bytes(const std::u16string& s) {
  bytes b;
  for (char16_t u : s) {
    b.push_back(static_cast<unsigned char>(u & 0xFF));
    b.push_back(static_cast<unsigned char>(u >> 8));
  }
  return b;
}

bytes narrow_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }

TEST(DropFiles, BuildsTheExactBlockForTwoPaths) {
  const bytes block = desktop::BuildDropFiles({u"C:\\a", u"D:\\\u00e9"});
  const bytes expected = {
      20, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  1, 0, 0, 0,  // header
      'C', 0, ':', 0, '\\', 0, 'a', 0, 0, 0,                            // first name, one NUL
      'D', 0, ':', 0, '\\', 0, 0xE9, 0, 0, 0,                           // second name
      0, 0,                                                             // end of the list
  };
  EXPECT_EQ(block, expected);
  // 20 + sum(2 * length + 2) + 2
  EXPECT_EQ(block.size(), 20u + (2 * 4 + 2) + (2 * 4 + 2) + 2);
}

TEST(DropFiles, ParsesWideAndNarrowLists) {
  std::vector<std::u16string> names;
  const bytes built = desktop::BuildDropFiles({u"C:\\x y\\\u4e2d.txt", u"a", u"\U0001F600"});
  ASSERT_TRUE(desktop::ParseDropFiles(built.data(), built.size(), names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"C:\\x y\\\u4e2d.txt", u"a", u"\U0001F600"}));

  // Narrow names are UTF-8; an offset past the header is honoured.
  bytes payload = {0xAA, 0xBB};  // bytes between header and names
  const bytes names8 = narrow_bytes(std::string("C:\\\xe4\xb8\xad") + '\0' + "b" + '\0' + '\0');
  payload.insert(payload.end(), names8.begin(), names8.end());
  const bytes narrow = drop_block(22, false, payload);
  ASSERT_TRUE(desktop::ParseDropFiles(narrow.data(), narrow.size(), names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"C:\\\u4e2d", u"b"}));

  // An empty list is a valid block with no names.
  const bytes empty = desktop::BuildDropFiles({});
  ASSERT_TRUE(desktop::ParseDropFiles(empty.data(), empty.size(), names));
  EXPECT_TRUE(names.empty());
}

TEST(DropFiles, MalformedBlocksGiveNoNamesAndAreNotReadPastTheirEnd) {
  const struct {
    const char* what;
    bytes block;
  } cases[] = {
      {"shorter than the header", bytes(19, 0)},
      {"offset past the end", drop_block(40, true, wide_bytes(u"a\0\0"))},
      {"offset at the end", drop_block(20, true, {})},
      {"offset inside the header", drop_block(8, true, wide_bytes(u"a\0\0"))},
      {"wide name without its NUL", drop_block(20, true, wide_bytes(u"abc"))},
      {"wide list without its end", drop_block(20, true, wide_bytes(std::u16string(u"a\0", 2)))},
      {"wide list ending in half a unit", drop_block(20, true, [] {
         bytes b = wide_bytes(std::u16string(u"a\0", 2));
         b.push_back(0);
         return b;
       }())},
      {"narrow name without its NUL", drop_block(20, false, narrow_bytes("abc"))},
      {"narrow list without its end", drop_block(20, false, narrow_bytes(std::string("a\0", 2)))},
      {"offset beyond 32-bit sizes", drop_block(0xFFFFFFFFu, true, wide_bytes(u"a"))},
  };
  for (const auto& c : cases) {
    // The block is copied to memory of exactly its size, so a read beyond it shows under ASan.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[c.block.size() + 1]);
    std::copy(c.block.begin(), c.block.end(), exact.get());
    std::vector<std::u16string> names = {u"stale"};
    EXPECT_FALSE(desktop::ParseDropFiles(exact.get(), c.block.size(), names)) << c.what;
    EXPECT_TRUE(names.empty()) << c.what;
  }
  std::vector<std::u16string> names;
  EXPECT_FALSE(desktop::ParseDropFiles(nullptr, 100, names));
}

TEST(ClipboardText, IsReadWithinTheBlock) {
  const struct {
    const char* what;
    bytes block;
    std::u16string text;
  } cases[] = {
      {"ends at its NUL", wide_bytes(std::u16string(u"h\u00e9\0junk", 7)), u"h\u00e9"},
      {"no NUL: the whole block", wide_bytes(u"abc"), u"abc"},
      {"no NUL and an odd last byte", [] {
         bytes b = wide_bytes(u"ab");
         b.push_back('c');
         return b;
       }(), u"ab"},
      {"empty block", {}, u""},
  };
  for (const auto& c : cases) {
    std::unique_ptr<unsigned char[]> exact(new unsigned char[c.block.size() + 1]);
    std::copy(c.block.begin(), c.block.end(), exact.get());
    EXPECT_EQ(desktop::UnicodeTextFromBlock(exact.get(), c.block.size()), c.text) << c.what;
  }
  EXPECT_EQ(desktop::NarrowTextFromBlock(reinterpret_cast<const unsigned char*>("ab\0c"), 4), "ab");
  EXPECT_EQ(desktop::NarrowTextFromBlock(reinterpret_cast<const unsigned char*>("abc"), 2), "ab");
  EXPECT_EQ(desktop::UnicodeTextBlock(u"\u4e2d"), (bytes{0x2D, 0x4E, 0, 0}));
  const bytes round = desktop::UnicodeTextBlock(u"x\U0001F600");
  EXPECT_EQ(desktop::UnicodeTextFromBlock(round.data(), round.size()), u"x\U0001F600");
}

TEST(DragItems, EachFormatGivesItsItemsAndEffect) {
  constexpr std::uint16_t kLink = 0xC0F0;
  const bytes files = desktop::BuildDropFiles({u"C:\\a", u"C:\\b", u"C:\\c"});
  const bytes wide_text = desktop::UnicodeTextBlock(u"\u4e2d text");
  const bytes narrow_text = narrow_bytes(std::string("caf\xc3\xa9") + '\0');
  const bytes link = narrow_bytes(std::string("http://x/") + '\0');
  const bytes bad_files = drop_block(20, true, wide_bytes(u"abc"));
  const struct {
    std::uint16_t format;
    const bytes* block;
    bool taken;
    std::vector<std::u16string> items;
    std::uint32_t effect;
  } cases[] = {
      {desktop::kCfHdrop, &files, true, {u"C:\\a", u"C:\\b", u"C:\\c"}, desktop::kDropEffectLink},
      {desktop::kCfUnicodeText, &wide_text, true, {u"\u4e2d text"}, desktop::kDropEffectCopy},
      {desktop::kCfText, &narrow_text, true, {u"caf\u00e9"}, desktop::kDropEffectCopy},
      {kLink, &link, true, {u"http://x/"}, desktop::kDropEffectLink},
      {desktop::kCfHdrop, &bad_files, false, {}, 0},
      {2 /* CF_BITMAP */, &files, false, {}, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> items;
    std::uint32_t effect = 0;
    EXPECT_EQ(desktop::DragItemsFromBlock(c.format, kLink, c.block->data(), c.block->size(), items,
                                          effect),
              c.taken)
        << c.format;
    EXPECT_EQ(items, c.items) << c.format;
    EXPECT_EQ(effect, c.effect) << c.format;
  }
  // Without a registered link format, format 0 is nothing.
  std::vector<std::u16string> items;
  std::uint32_t effect = 0;
  EXPECT_FALSE(desktop::DragItemsFromBlock(0, 0, link.data(), link.size(), items, effect));
}

TEST(ClipboardFiles, CutOrCopyTypeAndWhatTheReaderTakes) {
  const unsigned char move[4] = {2, 0, 0, 0};
  const unsigned char copy[4] = {5, 0, 0, 0};
  const unsigned char move_high[4] = {2, 0, 0, 1};
  EXPECT_EQ(desktop::CutOrCopyType(move, 4), 2);
  EXPECT_EQ(desktop::CutOrCopyType(copy, 4), 5);
  EXPECT_EQ(desktop::CutOrCopyType(move_high, 4), 5);
  EXPECT_EQ(desktop::CutOrCopyType(move, 3), 5);
  EXPECT_EQ(desktop::CutOrCopyType(nullptr, 0), 5);

  // What the reader takes from a block: names that fit its buffer, nothing from a bad block.
  const std::u16string longest(519, u'x'), too_long(520, u'y');
  const bytes mixed = desktop::BuildDropFiles({u"C:\\a", too_long, longest});
  EXPECT_EQ(desktop::ClipboardFileNames(mixed.data(), mixed.size()),
            (std::vector<std::u16string>{u"C:\\a", longest}));
  EXPECT_TRUE(desktop::ClipboardFileNames(mixed.data(), mixed.size() - 1).empty());
  EXPECT_TRUE(desktop::ClipboardFileNames(nullptr, 0).empty());

  EXPECT_FALSE(desktop::FileListFitsReader({}));
  EXPECT_TRUE(desktop::FileListFitsReader({u"a", std::u16string(519, u'x')}));
  EXPECT_FALSE(desktop::FileListFitsReader({u"a", std::u16string(520, u'x')}));
}

TEST(TrayTip, IsCutTo127UnitsWithoutSplittingAPair) {
  EXPECT_EQ(desktop::TrayTip(u"short"), u"short");
  EXPECT_EQ(desktop::TrayTip(std::u16string(127, u'a')), std::u16string(127, u'a'));
  EXPECT_EQ(desktop::TrayTip(std::u16string(200, u'a')), std::u16string(127, u'a'));
  // A pair across the cut is left out whole.
  const std::u16string pair_at_cut = std::u16string(126, u'a') + u"\U0001F600" + u"b";
  EXPECT_EQ(desktop::TrayTip(pair_at_cut), std::u16string(126, u'a'));
}

}  // namespace
