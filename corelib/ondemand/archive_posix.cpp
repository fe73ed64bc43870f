// libarchive on demand: only archive extraction (driver packages, self-update, the filesystem
// utilities) uses it, and the library with its XML and compression dependencies was a large
// part of the host's start-up.
#include "ondemand_library_posix.h"

#include <archive.h>
#include <archive_entry.h>

namespace {

qv::ondemand::library& lib() {
  static qv::ondemand::library l(TIV_ONDEMAND_SONAME);
  return l;
}

}  // namespace

TIV_ONDEMAND(struct archive*, archive_read_new, (void), (), nullptr)
TIV_ONDEMAND(int, archive_read_support_format_7zip, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_cab, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_cpio, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_gnutar, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_iso9660, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_lha, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_rar, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_rar5, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_tar, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_format_zip_seekable, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_filter_bzip2, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_filter_gzip, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_filter_lzma, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_support_filter_xz, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_set_callback_data, (struct archive * a, void* data), (a, data),
             ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_set_read_callback, (struct archive * a, archive_read_callback* f),
             (a, f), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_set_seek_callback, (struct archive * a, archive_seek_callback* f),
             (a, f), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_set_skip_callback, (struct archive * a, archive_skip_callback* f),
             (a, f), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_open1, (struct archive * a), (a), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_next_header, (struct archive * a, struct archive_entry** e), (a, e),
             ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_data_block,
             (struct archive * a, const void** buff, size_t* size, la_int64_t* offset),
             (a, buff, size, offset), ARCHIVE_FATAL)
TIV_ONDEMAND(int, archive_read_has_encrypted_entries, (struct archive * a), (a),
             ARCHIVE_READ_FORMAT_ENCRYPTION_DONT_KNOW)
TIV_ONDEMAND(int, archive_errno, (struct archive * a), (a), 0)
TIV_ONDEMAND(int, archive_read_free, (struct archive * a), (a), ARCHIVE_FATAL)

TIV_ONDEMAND(__LA_MODE_T, archive_entry_filetype, (struct archive_entry * e), (e), 0)
TIV_ONDEMAND(const char*, archive_entry_pathname, (struct archive_entry * e), (e), nullptr)
TIV_ONDEMAND(const char*, archive_entry_pathname_utf8, (struct archive_entry * e), (e), nullptr)
TIV_ONDEMAND(const char*, archive_entry_hardlink, (struct archive_entry * e), (e), nullptr)
TIV_ONDEMAND(const char*, archive_entry_symlink, (struct archive_entry * e), (e), nullptr)
TIV_ONDEMAND(la_int64_t, archive_entry_size, (struct archive_entry * e), (e), 0)
TIV_ONDEMAND(int, archive_entry_size_is_set, (struct archive_entry * e), (e), 0)
