// Where the content of an extracted game or data package goes on the device.
#pragma once

#include <map>
#include <string>

namespace desktop {

struct InstallTarget {
  std::u16string local;   // what to copy (Windows path text)
  std::u16string device;  // where it goes on the device
};

// The package destinations of "androidPacket.dat": package name -> device directory, read on
// first use and again only after Reset().
class PackageDestinations {
 public:
  // `file`: the scrambled container to read.
  explicit PackageDestinations(std::u16string file) : file_(std::move(file)) {}
  void Reset() { loaded_ = false; table_.clear(); }
  // The directory for `package` (or for "other"); empty when neither is known.
  std::u16string Lookup(const std::u16string& package);
  std::size_t size() { Load(); return table_.size(); }

 private:
  void Load();
  std::u16string file_;
  bool loaded_ = false;
  std::map<std::u16string, std::u16string> table_;
};

// The decision for one package: `kind` ("xpk", "gpk", "hpk", "rar", "zip", "lpk", any case)
// and the folder it was extracted into. Both results empty when there is nothing to do.
InstallTarget GetInstallTarget(const std::u16string& kind, const std::u16string& extracted,
                               PackageDestinations& destinations);

}  // namespace desktop
