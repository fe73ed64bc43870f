// Entry names: libarchive converts them through the C library's locale (POSIX) or keeps them
// as UTF-16 (Windows). These give UTF-16 names on both, whatever the process locale is.
#pragma once

#include <memory>
#include <string>

struct archive_entry;

namespace desktop::os {

// Held while an archive is read: makes libarchive's conversions on this thread use UTF-8 as
// the local character set (POSIX); nothing to do on Windows.
class ArchiveNameScope {
 public:
  ArchiveNameScope();
  ~ArchiveNameScope();
  ArchiveNameScope(const ArchiveNameScope&) = delete;
  ArchiveNameScope& operator=(const ArchiveNameScope&) = delete;

 private:
  void* saved_ = nullptr;
};

std::u16string ArchiveEntryName(archive_entry* e);

}  // namespace desktop::os
