// Archive extraction over libarchive.
//
// The format follows the file's extension (lower-cased): "gpk", "spk", "xpk", "hpk", "apk" and
// "lpk" are zip archives; zip, 7z, rar, tar and compressed tar (tar.gz, tgz, tar.bz2, tar.xz, ...),
// cab, iso, lzh and cpio are read. Paths are UTF-16 text; both "\" and "/" separate components.
//
// Entries are never written outside the destination folder: an entry whose path is absolute,
// names a drive, or climbs with ".." (in either separator) is skipped and logged, and so are
// links and special files. Nor is anything written through a link already below the
// destination: a link where a folder of an entry's path is fails that entry, and a link (or a
// hard link) where its file goes is replaced by the new file.
#pragma once

#include <cstdint>
#include <string>

namespace desktop {

// Result of opening an archive, as kept by LastOpenStatus().
enum ArchiveOpenStatus : int {
  kArchiveOpened = 0,
  kArchiveOtherFailure = 1,  // unreadable file, damaged archive
  kArchiveNotInitialised = 2,  // the archive library is unusable
  kArchiveNeedsPassword = 3,  // the archive's own listing is encrypted
  kArchiveNoHandler = 4,  // no reader for the extension, or the content is not that format
};

// Extracts every item below folder, creating missing folders. An item that fails does not stop
// the others, but the answer is then false, as it is when the archive cannot be opened or its
// listing breaks off: true means every item that is not skipped was written whole.
bool ExtractAll(const std::u16string& archive, const std::u16string& folder);

// Extracts the first item whose path equals entry (case-insensitive, either separator) into
// destination (replacing it), creating destination's missing parent folders. False when no
// file item matches or its data cannot be read and written whole.
bool ExtractOne(const std::u16string& archive, const std::u16string& entry,
                const std::u16string& destination);

// Sum of the unpacked sizes of the items that are not directories; 0 when the archive cannot be
// opened or its listing cannot be read to the end.
std::uint64_t TotalUnpackedSize(const std::u16string& archive);

// Status of the calling thread's last open by one of the functions above.
int LastOpenStatus();

}  // namespace desktop
