// Entry names: libarchive converts them through the C library's locale (POSIX) or keeps them
// as UTF-16 (Windows). These give UTF-16 names on both, whatever the process locale is.
// Output: files and folders are made below a destination without ever going through a link that
// is already there (someone else may have planted it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

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

// A file being written; closed by the destructor when Close() was not called.
class OutputFile {
 public:
  OutputFile() = default;
  explicit OutputFile(std::intptr_t handle) : handle_(handle) {}
  ~OutputFile();
  OutputFile(OutputFile&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool is_open() const { return handle_ != -1; }
  // Writes all of data at offset.
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  // Makes the file size bytes long; what is added reads as zeros.
  bool Extend(std::uint64_t size);
  // False when the system reports an error on closing.
  bool Close();

 private:
  std::intptr_t handle_ = -1;  // a file descriptor or a HANDLE; -1 is closed on both
};

// Creates the folders `parts` one below the other under `root` (which itself is created when
// missing, as the caller's own path). A part that exists must be a real folder: a link there, or
// a file, fails.
bool MakeFoldersBelow(const std::filesystem::path& root, const std::vector<std::u16string>& parts);

// A new empty file `name` in the folder `dirs` below `root` (created as MakeFoldersBelow does).
// Whatever had that name is replaced, never written through: a link or a file is removed first
// (the file a hard link shares stays as it was); a folder there fails. Closed when it fails.
OutputFile CreateFileBelow(const std::filesystem::path& root, const std::vector<std::u16string>& dirs,
                           const std::u16string& name);

}  // namespace desktop::os
