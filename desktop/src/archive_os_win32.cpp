#include "archive_os.h"

#include <archive_entry.h>
#include <windows.h>

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

namespace {

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool is_real_folder(DWORD attrs) {
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Walks `parts` below root, creating what is missing; a link (reparse point) or a file on the
// way fails.
bool walk_folders(const std::filesystem::path& root, const std::vector<std::u16string>& parts,
                  std::filesystem::path& out) {
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  const DWORD root_attrs = GetFileAttributesW(root.c_str());
  if (root_attrs == INVALID_FILE_ATTRIBUTES || !(root_attrs & FILE_ATTRIBUTE_DIRECTORY)) return false;
  out = root;
  for (const auto& part : parts) {
    out /= std::filesystem::path(part);
    DWORD attrs = GetFileAttributesW(out.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryW(out.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
      attrs = GetFileAttributesW(out.c_str());
    }
    if (!is_real_folder(attrs)) return false;
  }
  return true;
}

}  // namespace

OutputFile::~OutputFile() {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
}

bool OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (offset > static_cast<std::uint64_t>(MAXLONGLONG) ||
      !SetFilePointerEx(as_handle(handle_), at, nullptr, FILE_BEGIN))
    return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    DWORD written = 0;
    if (!WriteFile(as_handle(handle_), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool OutputFile::Extend(std::uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return size <= static_cast<std::uint64_t>(MAXLONGLONG) &&
         SetFilePointerEx(as_handle(handle_), at, nullptr, FILE_BEGIN) &&
         SetEndOfFile(as_handle(handle_));
}

bool OutputFile::Close() {
  const HANDLE h = as_handle(handle_);
  handle_ = -1;
  return CloseHandle(h) != 0;
}

bool MakeFoldersBelow(const std::filesystem::path& root, const std::vector<std::u16string>& parts) {
  std::filesystem::path dir;
  return walk_folders(root, parts, dir);
}

OutputFile CreateFileBelow(const std::filesystem::path& root, const std::vector<std::u16string>& dirs,
                           const std::u16string& name) {
  std::filesystem::path dir;
  if (name.empty() || !walk_folders(root, dirs, dir)) return OutputFile();
  const std::filesystem::path file = dir / std::filesystem::path(name);
  const DWORD attrs = GetFileAttributesW(file.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) {
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) return OutputFile();  // a folder, or a link to one
    // A link (or a hard link to someone's file) loses only its own name; what it shared stays.
    if (!DeleteFileW(file.c_str())) return OutputFile();
  }
  // CREATE_NEW refuses anything planted again in between.
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return h == INVALID_HANDLE_VALUE ? OutputFile() : OutputFile(reinterpret_cast<std::intptr_t>(h));
}

}  // namespace desktop::os
