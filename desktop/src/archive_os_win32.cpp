#include "archive_os.h"

#include <archive_entry.h>

namespace desktop::os {

ArchiveNameScope::ArchiveNameScope() {}
ArchiveNameScope::~ArchiveNameScope() {}

// libarchive keeps names as UTF-16 here (wchar_t); its narrow forms use the ANSI code page.
std::u16string ArchiveEntryName(archive_entry* e) {
  const wchar_t* w = archive_entry_pathname_w(e);
  if (!w) return {};
  std::u16string out;
  for (; *w; ++w) out.push_back(static_cast<char16_t>(*w));
  return out;
}

}  // namespace desktop::os
