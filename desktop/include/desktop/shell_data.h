// The data the shell objects exchange with the system, read and written without the system:
// file lists in the DROPFILES layout (CF_HDROP), text blocks, the cut-or-copy mark of copied
// files and the tray tip. Every reader stays inside the block it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace desktop {

// Clipboard format numbers shared with the system.
constexpr std::uint16_t kCfText = 1;
constexpr std::uint16_t kCfUnicodeText = 13;
constexpr std::uint16_t kCfHdrop = 15;

constexpr std::uint32_t kDropEffectNone = 0;
constexpr std::uint32_t kDropEffectCopy = 1;
constexpr std::uint32_t kDropEffectMove = 2;
constexpr std::uint32_t kDropEffectLink = 4;

// DROPFILES: pFiles (u32), pt (two i32), fNC (i32), fWide (i32), all little-endian.
constexpr std::size_t kDropFilesHeaderSize = 20;

// The characters of the buffer each clipboard file name is read into, its NUL included.
constexpr std::size_t kClipboardNameBuffer = 520;

// A CF_HDROP block: the header {pFiles = 20, pt = (0, 0), fNC = 0, fWide = 1}, each name in
// UTF-16 followed by a NUL, and one more NUL that ends the list.
std::vector<unsigned char> BuildDropFiles(const std::vector<std::u16string>& names);

// The names of a DROPFILES block: UTF-16 when fWide is set, UTF-8 otherwise, each ending with a
// NUL, the list ending with an empty name. A block that is shorter than its header, whose
// offset points into the header or past the end, or whose names or list end are not inside
// the block is malformed: false and no names, nothing is read outside [data, data + size).
bool ParseDropFiles(const unsigned char* data, std::size_t size, std::vector<std::u16string>& names);

// The names GetHdropData hands over from a CF_HDROP block: those that fit the reader's buffer;
// a longer name is left out rather than cut. None for a malformed block.
std::vector<std::u16string> ClipboardFileNames(const unsigned char* data, std::size_t size);

// Text of a CF_UNICODETEXT block: up to its first NUL, or the whole block (an odd last byte
// left out) when it has none.
std::u16string UnicodeTextFromBlock(const unsigned char* data, std::size_t size);
// The bytes of a narrow text block up to its first NUL, or the whole block.
std::string NarrowTextFromBlock(const unsigned char* data, std::size_t size);
// A CF_UNICODETEXT block: the text in UTF-16 and a NUL.
std::vector<unsigned char> UnicodeTextBlock(const std::u16string& text);

// What a dragged block of one format gives: the items and the drop effect to show. False when
// the format is not one the drop target takes, or its block is unusable (a malformed DROPFILES),
// so that the next format is tried. link_format is the registered "UniformResourceLocator".
bool DragItemsFromBlock(std::uint16_t format, std::uint16_t link_format, const unsigned char* data,
                        std::size_t size, std::vector<std::u16string>& items,
                        std::uint32_t& effect);

// The type GetHdropData reports: 2 when the files were cut, 5 when copied. effect is the
// "Preferred DropEffect" block (null when the clipboard has none); only a 4-byte (or larger)
// block holding DROPEFFECT_MOVE marks a cut.
int CutOrCopyType(const unsigned char* effect, std::size_t size);

// Whether a file list fits the clipboard reader: not empty, and every name shorter than the
// reader's buffer. A longer name is refused as a whole rather than cut.
bool FileListFitsReader(const std::vector<std::u16string>& names);

// The tray tip: at most 127 UTF-16 units of the text, never ending in half a surrogate pair.
std::u16string TrayTip(const std::u16string& text);

}  // namespace desktop
