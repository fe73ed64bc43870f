// The application's directories, each with a trailing "\" (Windows path text on every system).
#pragma once

#include <string>

namespace hostbase {

// Names the profile folder instead of the program directory's "Profiles" (the downloads
// database and the contact backups go there): for a program folder the user cannot write.
constexpr const char* kProfileDirVariable = "TIVOREL_PROFILE_DIR";

class CPathManager {
 public:
  // Filled on the first call of any accessor, once per process.
  std::wstring GetExeDir();
  std::wstring GetSearchDir();
  // Program directory + "Profiles\", or the folder that TIVOREL_PROFILE_DIR names (not created)
  std::wstring GetProfileDir();
  std::wstring GetTempDir();     // the program's temporary folder (GetTempDirectory)
  std::wstring GetXarDir();      // program directory + "xar", without a trailing "\"

 private:
  void Fill();
  bool filled_ = false;
  std::wstring exe_dir_, search_dir_, profile_dir_, temp_dir_, xar_dir_;
};

// The part of a path up to and including its last "\" or "/"; empty (and the thread's last error
// set to 20100001) when there is none.
std::wstring DirectoryOf(const std::wstring& path);

constexpr unsigned long kErrorInvalidArgument = 20100001;
// The thread's last error as the path functions set it.
unsigned long GetPathLastError();

// Directories without state; each ends with "\" or is empty when the system call fails.
std::wstring GetAppDataDir();        // per-user data + "Tivorel\" (created)
std::wstring GetCommonAppDataDir();  // all-users data + "Qorvan\" (created)
// The program's temporary folder, where its logs are, created when missing; empty when none
// fit for it can be had. Windows: the system temporary path + "Tivorel\". POSIX: a folder of this
// user alone, mode 0700, never a link, which no other local user can plant files in:
// $TMPDIR/Tivorel-<uid> when TMPDIR is set, else $XDG_RUNTIME_DIR/Tivorel, else
// /tmp/Tivorel-<uid>; one that exists as a link, as no folder or with another owner is not
// used (logged to standard error) and the next of these is tried.
std::wstring GetTempDirectory();
std::wstring GetModuleDir();         // directory of the program's code

// The one source of these two for every module above this layer (empty on failure):
std::wstring GetExePath();        // the program's file, full path
std::wstring GetSystemTempDir();  // the system's temporary folder, ending with "\"
// The program's command line as one string by the Windows rules (the program first); on POSIX
// built from the process's arguments, a switch with a value quoted behind its colon.
std::wstring GetProgramCommandLine();

// "appver" of section "basic" in the profile's "config.ini": at most 9 characters, "1.0" when
// the file or the key is missing.
std::wstring ReadAppVersion();

}  // namespace hostbase
