#include "desktop/archive.h"

#include "archive_os.h"
#include "desktop/log.h"
#include "qv/xml.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace desktop {

namespace {

thread_local int g_last_status = kArchiveOpened;

std::string u8(const std::u16string& s) { return qv::xml::to_utf8(s); }

// Path text from callers uses either separator; the OS gets its own.
fs::path native_path(std::u16string text) {
  if (fs::path::preferred_separator == '/') std::replace(text.begin(), text.end(), u'\\', u'/');
  return fs::path(text);
}

// A fixed case fold (ASCII, Latin-1, Greek, Cyrillic), the same on every target and locale.
char16_t fold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  if (c < 0xC0) return c;
  if (c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

std::u16string lower(std::u16string s) {
  for (auto& c : s) c = fold(c);
  return s;
}

// Same path ignoring case, "\" and "/" alike.
bool same_entry_path(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  std::u16string la = lower(a), lb = lower(b);
  for (std::size_t i = 0; i < la.size(); ++i) {
    char16_t x = la[i] == u'\\' ? u'/' : la[i];
    char16_t y = lb[i] == u'\\' ? u'/' : lb[i];
    if (x != y) return false;
  }
  return true;
}

// The components of an entry path that may be created below the destination, or nothing when
// the entry would reach outside it: absolute paths, drive or stream names (any ":"), and
// components made only of dots and blanks beyond "." (".." and what Windows trims to it).
std::optional<std::vector<std::u16string>> safe_components(const std::u16string& path) {
  if (path.empty() || path[0] == u'/' || path[0] == u'\\') return std::nullopt;
  std::vector<std::u16string> out;
  std::u16string cur;
  auto flush = [&]() -> bool {
    if (cur.empty() || cur == u".") {
      cur.clear();
      return true;
    }
    if (cur.find(u':') != std::u16string::npos) return false;
    if (cur.find_first_not_of(u". ") == std::u16string::npos) return false;
    out.push_back(cur);
    cur.clear();
    return true;
  };
  for (char16_t c : path) {
    if (c == u'/' || c == u'\\') {
      if (!flush()) return std::nullopt;
    } else {
      cur.push_back(c);
    }
  }
  if (!flush()) return std::nullopt;
  return out;
}

struct ArchiveDeleter {
  void operator()(struct archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<struct archive, ArchiveDeleter>;

// The archive's bytes, read through std::ifstream so that Unicode paths work on both targets.
struct FileSource {
  std::ifstream in;
  std::vector<char> buffer = std::vector<char>(1 << 16);

  static la_ssize_t read(struct archive*, void* self, const void** out) {
    auto* s = static_cast<FileSource*>(self);
    s->in.read(s->buffer.data(), static_cast<std::streamsize>(s->buffer.size()));
    std::streamsize n = s->in.gcount();
    if (s->in.bad()) return -1;
    if (s->in.eof()) s->in.clear(std::ios::eofbit);
    *out = s->buffer.data();
    return static_cast<la_ssize_t>(n);
  }
  static la_int64_t seek(struct archive*, void* self, la_int64_t offset, int whence) {
    auto* s = static_cast<FileSource*>(self);
    s->in.clear();
    std::ios::seekdir dir = whence == SEEK_SET ? std::ios::beg
                            : whence == SEEK_CUR ? std::ios::cur
                                                 : std::ios::end;
    s->in.seekg(static_cast<std::streamoff>(offset), dir);
    if (!s->in) return ARCHIVE_FATAL;
    return static_cast<la_int64_t>(s->in.tellg());
  }
  static la_int64_t skip(struct archive* a, void* self, la_int64_t request) {
    auto* s = static_cast<FileSource*>(self);
    std::streamoff before = s->in.tellg();
    if (before < 0 || seek(a, self, request, SEEK_CUR) < 0) return 0;
    return static_cast<la_int64_t>(s->in.tellg() - before);
  }
};

enum class Kind { kNone, kZip, k7z, kRar, kTar, kCab, kIso, kLha, kCpio };

Kind kind_of(const fs::path& file) {
  std::u16string ext = lower(file.extension().u16string());
  if (!ext.empty()) ext.erase(0, 1);
  static const struct {
    const char16_t* ext;
    Kind kind;
  } kTable[] = {
      {u"zip", Kind::kZip}, {u"gpk", Kind::kZip}, {u"spk", Kind::kZip}, {u"xpk", Kind::kZip},
      {u"hpk", Kind::kZip}, {u"apk", Kind::kZip}, {u"lpk", Kind::kZip}, {u"jar", Kind::kZip},
      {u"7z", Kind::k7z},   {u"rar", Kind::kRar}, {u"tar", Kind::kTar}, {u"gz", Kind::kTar},
      {u"tgz", Kind::kTar}, {u"bz2", Kind::kTar}, {u"tbz2", Kind::kTar}, {u"tbz", Kind::kTar},
      {u"xz", Kind::kTar},  {u"txz", Kind::kTar}, {u"cab", Kind::kCab}, {u"iso", Kind::kIso},
      {u"lzh", Kind::kLha}, {u"lha", Kind::kLha}, {u"cpio", Kind::kCpio},
  };
  for (const auto& row : kTable)
    if (ext == row.ext) return row.kind;
  return Kind::kNone;
}

// An opened archive; status says why when archive is null.
struct Opened {
  // Declared first so that it outlives the reader, which converts names until it is freed.
  std::unique_ptr<os::ArchiveNameScope> names = std::make_unique<os::ArchiveNameScope>();
  ArchivePtr archive;
  std::unique_ptr<FileSource> source;
  int status = kArchiveOtherFailure;
};

Opened open_archive(const std::u16string& path_text) {
  Opened o;
  fs::path path = native_path(path_text);
  Kind kind = kind_of(path);
  if (kind == Kind::kNone) {
    o.status = kArchiveNoHandler;
    g_last_status = o.status;
    return o;
  }
  o.source = std::make_unique<FileSource>();
  o.source->in.open(path, std::ios::binary);
  if (!o.source->in) {
    o.status = kArchiveOtherFailure;
    g_last_status = o.status;
    return o;
  }
  ArchivePtr a(archive_read_new());
  if (!a) {
    o.status = kArchiveNotInitialised;
    g_last_status = o.status;
    return o;
  }
  switch (kind) {
    case Kind::kZip: archive_read_support_format_zip_seekable(a.get()); break;
    case Kind::k7z: archive_read_support_format_7zip(a.get()); break;
    case Kind::kRar:
      archive_read_support_format_rar(a.get());
      archive_read_support_format_rar5(a.get());
      break;
    case Kind::kTar:
      archive_read_support_format_tar(a.get());
      archive_read_support_format_gnutar(a.get());
      break;
    case Kind::kCab: archive_read_support_format_cab(a.get()); break;
    case Kind::kIso: archive_read_support_format_iso9660(a.get()); break;
    case Kind::kLha: archive_read_support_format_lha(a.get()); break;
    case Kind::kCpio: archive_read_support_format_cpio(a.get()); break;
    case Kind::kNone: break;
  }
  // Built-in decompressors only: no external programs are ever started.
  archive_read_support_filter_gzip(a.get());
  archive_read_support_filter_bzip2(a.get());
  archive_read_support_filter_xz(a.get());
  archive_read_support_filter_lzma(a.get());
  archive_read_set_read_callback(a.get(), &FileSource::read);
  archive_read_set_seek_callback(a.get(), &FileSource::seek);
  archive_read_set_skip_callback(a.get(), &FileSource::skip);
  archive_read_set_callback_data(a.get(), o.source.get());
  if (archive_read_open1(a.get()) != ARCHIVE_OK) {
    // libarchive reports "no reader recognised this" as a file-format error, EILSEQ on both
    // targets (its ARCHIVE_ERRNO_FILE_FORMAT is not public).
    o.status = archive_errno(a.get()) == EILSEQ ? kArchiveNoHandler : kArchiveOtherFailure;
    g_last_status = o.status;
    return o;
  }
  o.archive = std::move(a);
  o.status = kArchiveOpened;
  g_last_status = o.status;
  return o;
}

// Next header; false at the end or on an error that ends the listing. A failure on the very
// first header is an open failure (the archive's listing is unreadable).
bool next_entry(Opened& o, archive_entry** entry, bool first, bool* failed) {
  int r;
  do {
    r = archive_read_next_header(o.archive.get(), entry);
  } while (r == ARCHIVE_RETRY);
  if (r == ARCHIVE_OK || r == ARCHIVE_WARN) return true;
  if (r == ARCHIVE_EOF) return false;
  *failed = true;
  if (first) {
    g_last_status = archive_read_has_encrypted_entries(o.archive.get()) > 0 ? kArchiveNeedsPassword
                                                                            : kArchiveOtherFailure;
  }
  return false;
}

std::u16string entry_path(archive_entry* e) { return os::ArchiveEntryName(e); }

// Copies the current entry's data into out, a new empty file. False on any read or write error.
bool write_data(struct archive* a, archive_entry* e, os::OutputFile out) {
  if (!out.is_open()) return false;
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  la_int64_t end = 0;
  for (;;) {
    int r = archive_read_data_block(a, &block, &size, &offset);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) return false;
    if (offset < 0) return false;
    // A sparse entry skips its holes: writing at the offset leaves them as zeros.
    if (!out.WriteAt(static_cast<std::uint64_t>(offset), block, size)) return false;
    end = std::max(end, offset + static_cast<la_int64_t>(size));
  }
  // A sparse file may end in a hole: the file still has its full size.
  if (archive_entry_size_is_set(e) && archive_entry_size(e) > end &&
      !out.Extend(static_cast<std::uint64_t>(archive_entry_size(e))))
    return false;
  return out.Close();
}

bool is_directory(archive_entry* e) { return archive_entry_filetype(e) == AE_IFDIR; }

bool is_plain_file(archive_entry* e) {
  return archive_entry_filetype(e) == AE_IFREG && archive_entry_hardlink(e) == nullptr &&
         archive_entry_symlink(e) == nullptr;
}

}  // namespace

int LastOpenStatus() { return g_last_status; }

bool ExtractAll(const std::u16string& archive, const std::u16string& folder) {
  Opened o = open_archive(archive);
  if (!o.archive) return false;
  const fs::path root = native_path(folder);
  archive_entry* e = nullptr;
  bool failed = false;       // the listing broke off
  bool item_failed = false;  // an item could not be written whole
  for (bool first = true; next_entry(o, &e, first, &failed); first = false) {
    const std::u16string name = entry_path(e);
    auto parts = safe_components(name);
    if (!parts) {
      LogLine("archive " + u8(archive) + ": skipped entry outside the destination: " + u8(name));
      continue;
    }
    if (!is_directory(e) && !is_plain_file(e)) {
      LogLine("archive " + u8(archive) + ": skipped link or special file: " + u8(name));
      continue;
    }
    if (is_directory(e)) {
      if (!os::MakeFoldersBelow(root, *parts)) {
        LogLine("archive " + u8(archive) + ": could not make the folder " + u8(name));
        item_failed = true;
      }
      continue;
    }
    if (parts->empty()) continue;
    const std::vector<std::u16string> dirs(parts->begin(), parts->end() - 1);
    if (!write_data(o.archive.get(), e, os::CreateFileBelow(root, dirs, parts->back()))) {
      LogLine("archive " + u8(archive) + ": could not extract " + u8(name));
      item_failed = true;
    }
  }
  if (failed) LogLine("archive " + u8(archive) + ": the listing could not be read to the end");
  return !failed && !item_failed;
}

bool ExtractOne(const std::u16string& archive, const std::u16string& entry,
                const std::u16string& destination) {
  Opened o = open_archive(archive);
  if (!o.archive) return false;
  archive_entry* e = nullptr;
  bool failed = false;
  for (bool first = true; next_entry(o, &e, first, &failed); first = false) {
    if (!same_entry_path(entry_path(e), entry)) continue;
    if (!is_plain_file(e)) return false;
    const fs::path target = native_path(destination);
    if (!target.has_filename()) return false;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    return write_data(o.archive.get(), e,
                      os::CreateFileBelow(folder, {}, target.filename().u16string()));
  }
  return false;
}

std::uint64_t TotalUnpackedSize(const std::u16string& archive) {
  Opened o = open_archive(archive);
  if (!o.archive) return 0;
  std::uint64_t total = 0;
  archive_entry* e = nullptr;
  bool failed = false;
  for (bool first = true; next_entry(o, &e, first, &failed); first = false) {
    if (is_directory(e) || !archive_entry_size_is_set(e)) continue;
    la_int64_t size = archive_entry_size(e);
    if (size > 0) total += static_cast<std::uint64_t>(size);
  }
  return failed ? 0 : total;
}

}  // namespace desktop
