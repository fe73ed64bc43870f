// Contact backups: the program's own scrambled XML files with their index, and CSV files.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace desktop {

struct Contact {
  std::u16string name;
  std::u16string number;
};
inline bool operator==(const Contact& a, const Contact& b) {
  return a.name == b.name && a.number == b.number;
}

struct ContactBackupEntry {
  std::u16string title;
  std::u16string date;  // the backup's name
};

// The name of a backup made at that local time: "2026年12月10日13时05分09秒".
std::u16string ContactBackupName(const std::tm& local);

// Writes the scrambled backup into `folder` (Windows path text with a trailing separator) and
// adds it to the index "contactRecord.xml" there. A name already taken (two backups in one
// second) gets "(2)", "(3)", ... behind it. The backup and the index are each replaced whole.
// The backup's name, or nothing when it could not be written. An index that is there but cannot
// be read fails the backup before anything is written, and is left as it is.
std::optional<std::u16string> SaveContactBackup(const std::u16string& folder,
                                                const std::u16string& title,
                                                const std::vector<Contact>& contacts,
                                                const std::tm& local, std::uint32_t key);

// Every index entry that has both a title and a date; nothing when the index is missing or
// unreadable.
std::optional<std::vector<ContactBackupEntry>> ReadContactBackupList(const std::u16string& folder);

// `request` is "<title> <name>" (exactly two blank-separated pieces). The contacts of that
// backup; nothing on any failure.
std::optional<std::vector<Contact>> RestoreContactBackup(const std::u16string& folder,
                                                         const std::u16string& request);

// A CSV file: the header and each row on a line ending in CR LF, in code page 936. A field
// holding a comma, a double quote, CR or LF is quoted (quotes doubled), so that it reads back
// as it was.
std::string FormatContactCsv(const std::vector<std::u16string>& header,
                             const std::vector<std::vector<std::u16string>>& rows);

// The contacts of a CSV file's "First Name" and "Mobile Phone" columns (header compared without
// regard to case). The text is UTF-8 after its mark, UTF-16 after either of its marks; without a
// mark UTF-16LE when the system's statistics say so, else UTF-8 when valid, else code page 936.
// Nothing when the header lacks either column.
std::optional<std::vector<Contact>> ParseContactCsv(const std::string& bytes);

}  // namespace desktop
