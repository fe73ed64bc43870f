#include "archive_os.h"

#include "qv/xml.h"

#include <archive_entry.h>
#include <locale.h>

#include <cstring>

namespace desktop::os {

namespace {

// One UTF-8 character-type locale for the process, created on first use and kept.
locale_t utf8_locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

}  // namespace

ArchiveNameScope::ArchiveNameScope() {
  if (locale_t l = utf8_locale()) saved_ = uselocale(l);
}

ArchiveNameScope::~ArchiveNameScope() {
  if (saved_) uselocale(static_cast<locale_t>(saved_));
}

// Asks for UTF-8; names that cannot be converted keep their raw bytes.
std::u16string ArchiveEntryName(archive_entry* e) {
  const char* p = archive_entry_pathname_utf8(e);
  if (!p) p = archive_entry_pathname(e);
  return p ? qv::xml::from_utf8(p, std::strlen(p)) : std::u16string();
}

}  // namespace desktop::os
