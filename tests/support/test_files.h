// Files and archives that the desktop tests make for themselves.
#pragma once

#include "qv/xml.h"
#include "temp_dir.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tiv_test_files {

namespace fs = std::filesystem;

using TempDir = tiv_test::TempDir;

inline void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << file.string();
}

inline std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "<missing " + file.string() + ">";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every entry below root with its kind and whole content (a link by its target, never
// followed): two snapshots are equal when the trees are byte for byte the same.
inline std::map<std::string, std::string> TreeSnapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string rel = it->path().lexically_relative(root).generic_string();
    if (it->is_symlink()) {
      out[rel] = "link:" + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      out[rel] = "dir";
    } else {
      out[rel] = "file:" + ReadFile(it->path());
    }
  }
  return out;
}

struct Entry {
  Entry(std::string n, std::string d, unsigned t = AE_IFREG, std::string sym = {},
        std::string hard = {})
      : name(std::move(n)), data(std::move(d)), type(t), symlink(std::move(sym)),
        hardlink(std::move(hard)) {}
  std::string name;  // UTF-8, written as it stands
  std::string data;
  unsigned type;
  std::string symlink;
  std::string hardlink;
};

enum class Format { kZip, k7z, kTar, kTarGz };

inline std::string Error(struct archive* a) {
  const char* s = archive_error_string(a);
  return s ? s : "(no message)";
}

// While alive, the C library's character type is UTF-8 where such a locale exists (the 7z
// writer converts names to UTF-16 through it on POSIX; Windows has no such locale and needs none).
class Utf8CType {
 public:
  Utf8CType() {
    const char* now = std::setlocale(LC_CTYPE, nullptr);
    saved_ = now ? now : "C";
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
  ~Utf8CType() { std::setlocale(LC_CTYPE, saved_.c_str()); }

 private:
  std::string saved_;
};

// Writes the entries with libarchive's writer, in order.
inline void WriteArchive(const fs::path& file, Format format, const std::vector<Entry>& entries) {
  Utf8CType utf8;
  struct Free {
    void operator()(struct archive* a) const { archive_write_free(a); }
  };
  // The buffer outlives the writer, which flushes into it when freed.
  std::vector<unsigned char> buffer(4 << 20);
  size_t used = 0;
  std::unique_ptr<struct archive, Free> a(archive_write_new());
  switch (format) {
    case Format::kZip:
      archive_write_set_format_zip(a.get());
      // Names flagged as UTF-8, as today's zip tools write them.
      archive_write_set_format_option(a.get(), "zip", "hdrcharset", "UTF-8");
      break;
    case Format::k7z: archive_write_set_format_7zip(a.get()); break;
    case Format::kTar: archive_write_set_format_pax_restricted(a.get()); break;
    case Format::kTarGz:
      archive_write_set_format_pax_restricted(a.get());
      archive_write_add_filter_gzip(a.get());
      break;
  }
  if (format == Format::kTar || format == Format::kTarGz)
    archive_write_set_format_option(a.get(), "pax", "hdrcharset", "UTF-8");
  ASSERT_EQ(archive_write_open_memory(a.get(), buffer.data(), buffer.size(), &used), ARCHIVE_OK)
      << Error(a.get());
  for (const auto& e : entries) {
    std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(),
                                                                   &archive_entry_free);
    if constexpr (sizeof(wchar_t) == 2) {
      // Windows: libarchive's own form of a name is UTF-16; its UTF-8 setter goes through the
      // ANSI code page and cannot carry other characters.
      archive_entry_copy_pathname_w(entry.get(), fs::u8path(e.name).wstring().c_str());
    } else {
      archive_entry_set_pathname_utf8(entry.get(), e.name.c_str());
    }
    archive_entry_set_filetype(entry.get(), e.type);
    archive_entry_set_perm(entry.get(), e.type == AE_IFDIR ? 0755 : 0644);
    archive_entry_set_mtime(entry.get(), 1700000000, 0);
    if (!e.symlink.empty()) archive_entry_set_symlink_utf8(entry.get(), e.symlink.c_str());
    if (!e.hardlink.empty()) archive_entry_set_hardlink_utf8(entry.get(), e.hardlink.c_str());
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(e.data.size()));
    ASSERT_GE(archive_write_header(a.get(), entry.get()), ARCHIVE_WARN)
        << e.name << ": " << Error(a.get());
    if (!e.data.empty()) {
      ASSERT_EQ(archive_write_data(a.get(), e.data.data(), e.data.size()),
                static_cast<la_ssize_t>(e.data.size()));
    }
  }
  ASSERT_EQ(archive_write_close(a.get()), ARCHIVE_OK) << Error(a.get());
  WriteFile(file, std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used)));
}

}  // namespace tiv_test_files
