// Contact backups under SIGKILL at many points and under a full disk: the index and every backup
// it lists stay readable and whole, and every backup that was reported saved is listed.
#include <gtest/gtest.h>

#include "file_size_limit_posix.h"
#include "desktop/contacts.h"
#include "kill_points_posix.h"
#include "test_files.h"

#include "qv/text.h"

#include <signal.h>
#include <sys/resource.h>

#include <ctime>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

using desktop::Contact;
using tiv_test_files::TempDir;
namespace fs = std::filesystem;

namespace {

std::u16string U(const std::string& s) { return qv::text::utf8_to_utf16(s.data(), s.size()); }
std::u16string Folder(const fs::path& p) { return p.u16string() + u"\\"; }

// Step n of a run: a distinct second, a title naming it, and contacts derived from it.
std::tm MomentOf(int n) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 1 + n / 86400;
  t.tm_hour = (n / 3600) % 24;
  t.tm_min = (n / 60) % 60;
  t.tm_sec = n % 60;
  return t;
}
std::u16string TitleOf(int n) { return U("t" + std::to_string(n)); }
std::vector<Contact> ContactsOf(int n, int count) {
  std::vector<Contact> out;
  for (int i = 0; i < count; ++i)
    out.push_back({U("name " + std::to_string(n) + "/" + std::to_string(i)), U(std::to_string(13800000000LL + n * 1000 + i))});
  return out;
}
int StepOfTitle(const std::u16string& title) { return std::stoi(qv::text::utf16_to_utf8(title).substr(1)); }

// Every listed backup restores to exactly what its step saved; returns the listed steps. The
// index may be missing only while no backup was ever saved; when present it must read.
std::set<int> CheckFolder(const fs::path& dir, int contacts_per_backup) {
  const std::u16string folder = Folder(dir);
  std::set<int> steps;
  const auto list = desktop::ReadContactBackupList(folder);
  if (!list) {
    EXPECT_FALSE(fs::exists(dir / "contactRecord.xml")) << "the index is unreadable";
    return steps;
  }
  for (const auto& e : *list) {
    const int n = StepOfTitle(e.title);
    EXPECT_TRUE(steps.insert(n).second) << "listed twice: " << n;
    const auto got = desktop::RestoreContactBackup(folder, e.title + u" " + e.date);
    EXPECT_TRUE(got && *got == ContactsOf(n, contacts_per_backup)) << "backup of step " << n;
  }
  return steps;
}

}  // namespace

TEST(ContactBackupKill, EverySavedBackupSurvivesKillsAtManyPoints) {
  TempDir dir;
  const std::u16string folder = Folder(dir.path());
  constexpr int kContacts = 200;  // a backup of some size, so that kills land inside writes
  std::mt19937 rng(std::random_device{}());
  const unsigned seed = rng();
  rng.seed(seed);
  SCOPED_TRACE("kill seed " + std::to_string(seed));

  int next_step = 0;
  std::set<int> saved;  // steps reported saved before a kill
  int kills = 0;
  for (int round = 0; round < 30; ++round) {
    const int first = next_step;
    const int after = static_cast<int>(rng() % 3);
    const std::uint32_t spin = rng() % 3000000;
    const auto r = tiv_test_kill::RunAndKill(
        [&](const std::function<void()>& done) {
          for (int n = first; n < first + 8; ++n) {
            if (!desktop::SaveContactBackup(folder, TitleOf(n), ContactsOf(n, kContacts), MomentOf(n), 0x5A17u + n))
              ::_exit(3);
            done();
          }
        },
        after, spin);
    ASSERT_LE(r.exit_code, 0) << "a save failed in the child";
    if (!r.finished) ++kills;
    for (int n = first; n < first + r.committed; ++n) saved.insert(n);
    next_step = first + 8;

    const std::set<int> listed = CheckFolder(dir.path(), kContacts);
    for (int n : saved) EXPECT_TRUE(listed.count(n)) << "step " << n << " was saved but is not listed";
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(kills, 0);
  std::cout << kills << " kills, " << saved.size() << " backups saved" << std::endl;
}

namespace {

using tiv_test_disk::file_size_limit;

}  // namespace

TEST(ContactBackupFullDisk, FailsKeepsEarlierBackupsAndWorksAgain) {
  TempDir dir;
  const std::u16string folder = Folder(dir.path());
  ASSERT_TRUE(desktop::SaveContactBackup(folder, TitleOf(1), ContactsOf(1, 3), MomentOf(1), 7));
  const std::string index_before = tiv_test_files::ReadFile(dir.path() / "contactRecord.xml");

  {
    // Room for the index, not for a backup of a thousand contacts.
    file_size_limit limit(8192);
    ASSERT_TRUE(limit.ok());
    EXPECT_FALSE(desktop::SaveContactBackup(folder, TitleOf(2), ContactsOf(2, 1000), MomentOf(2), 7));
  }
  EXPECT_EQ(tiv_test_files::ReadFile(dir.path() / "contactRecord.xml"), index_before);
  EXPECT_EQ(CheckFolder(dir.path(), 3), (std::set<int>{1}));
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_NE(e.path().extension(), ".tmp") << "a partial file was left: " << e.path();

  // Space is back: the same backup is saved and listed.
  ASSERT_TRUE(desktop::SaveContactBackup(folder, TitleOf(2), ContactsOf(2, 3), MomentOf(2), 7));
  EXPECT_EQ(CheckFolder(dir.path(), 3), (std::set<int>{1, 2}));
}
