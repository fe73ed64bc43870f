#include <gtest/gtest.h>

#include "hostbase/mount_table.h"

#include <string>
#include <vector>

namespace {

using hostbase::MountEntry;

std::string describe(const std::vector<MountEntry>& table) {
  std::string s;
  for (const MountEntry& m : table) s += "[" + m.device + "|" + m.mount_point + "|" + m.type + "]";
  return s;
}

TEST(MountTable, ParsesFieldsAndUndoesOctalEscapes) {
  const struct {
    const char* name;
    std::string text;
    const char* expected;
  } cases[] = {
      {"plain lines", "proc /proc proc rw 0 0\n/dev/sda1 / ext4 rw 0 0\n",
       "[proc|/proc|proc][/dev/sda1|/|ext4]"},
      {"blank in the mount point", "/dev/sdb1 /media/My\\040Phone vfat rw 0 0\n",
       "[/dev/sdb1|/media/My Phone|vfat]"},
      {"tab, newline and backslash escapes", "/dev/sdc1 /m/a\\011b\\012c\\134d ext4 rw 0 0\n",
       "[/dev/sdc1|/m/a\tb\nc\\d|ext4]"},
      {"a backslash without three octal digits stays", "/dev/sdd1 /m/x\\09 /m/y\\04 vfat\n",
       "[/dev/sdd1|/m/x\\09|/m/y\\04]"},
      {"escape at the very end", "dev /m/end\\040 tmpfs", "[dev|/m/end |tmpfs]"},
      {"short and empty lines are passed over", "\n/dev/sde1 /only\n  \nnone /t tmpfs\r\n",
       "[none|/t|tmpfs]"},
      {"tabs between fields", "/dev/sdf1\t/tab\tvfat\trw\n", "[/dev/sdf1|/tab|vfat]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe(hostbase::ParseMountTable(c.text)), c.expected);
  }
}

TEST(MountTable, TheLongestLastListedMountPointHoldsAPath) {
  const std::vector<MountEntry> table = hostbase::ParseMountTable(
      "/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sdb1 /media/My\\040Phone vfat rw 0 0\n"
      "/dev/sdc1 /media/My ntfs rw 0 0\n"
      "tmpfs /tmp tmpfs rw 0 0\n"
      "/dev/sdd1 /tmp exfat rw 0 0\n");
  const struct {
    const char* path;
    const char* type;
  } cases[] = {
      {"/", "ext4"},
      {"/home/user", "ext4"},
      {"/media/My Phone", "vfat"},         // the escaped blank matches the real name
      {"/media/My Phone/DCIM/a.jpg", "vfat"},
      {"/media/My", "ntfs"},
      {"/media/MyPhone", "ext4"},          // a prefix of a name is no parent
      {"/tmp/x", "exfat"},                 // the later mount hides the earlier one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const MountEntry* m = hostbase::MountHolding(table, c.path);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->type, c.type);
  }
  EXPECT_EQ(hostbase::MountHolding(hostbase::ParseMountTable("tmpfs /tmp tmpfs\n"), "/home"),
            nullptr);
}

TEST(MountTable, AMissingFileGivesAnEmptyTable) {
  EXPECT_TRUE(hostbase::ReadMountTable("no such mount table file").empty());
}

}  // namespace
