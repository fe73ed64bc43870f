// A folder tree whose entries try to reach outside it, for every walk that must stay inside its
// tree: on POSIX "\" is an ordinary character of a name, while the program also reads "\" as a
// separator in paths that come from Lua, and links may point anywhere.
//
//   <root>/tree/             the folder handed to the walk; its entries are the rows below
//   <root>/victim.txt, <root>/victimdir/f.txt, <root>/x
//                            what "..\" names would reach when read back as paths
//   <root>/outside/          what the links point to
//
// Everything but tree/ (and a folder the test names, such as a copy's target) is recorded
// before and compared after: a walk changed nothing outside its tree when the records agree.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace hostile_tree {

namespace fs = std::filesystem;

enum class kind { file, dir, dir_link, file_link };

struct row {
  const char* name;  // the entry's name in tree/, as the system lists it
  kind what;
  // Whether the name can be handed to Lua as Windows path text: "\" in it would be read back
  // as a separator.
  bool lua_safe;
};

// Every file row and every folder row holds content of its own: a folder row holds "own.txt".
inline const std::vector<row>& rows() {
  static const std::vector<row> r = {
      {"plain.txt", kind::file, true},
      {"Sub", kind::dir, true},
      {"..\\victim.txt", kind::file, false},
      {"..\\victimdir", kind::dir, false},
      {"..\\x", kind::file, false},
      {"a\\b", kind::file, false},
      {"x..y", kind::file, true},
      {"...", kind::file, true},
      {"..z", kind::dir, true},
      {"dirlink", kind::dir_link, true},
      {"filelink", kind::file_link, true},
  };
  return r;
}

// The content of a file row: its name, so that a copy shows where it came from.
inline std::string content_of(const row& r) { return std::string("content of ") + r.name; }

constexpr const char* kOutsideFile = "outside/keep.txt";
constexpr const char* kOutsideDir = "outside/dir";

inline void write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

inline std::string read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "<missing>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class fixture {
 public:
  // root is a fresh, empty folder that the caller owns.
  explicit fixture(fs::path root) : root_(std::move(root)) {
    write(root_ / "victim.txt", "victim");
    write(root_ / "victimdir" / "f.txt", "victim in a folder");
    write(root_ / "x", "x beside the tree");
    write(root_ / kOutsideFile, "kept outside");
    write(root_ / kOutsideDir / "inner.txt", "inside a folder outside");
    fs::create_directories(tree());
    for (const row& r : rows()) {
      const fs::path p = tree() / r.name;
      switch (r.what) {
        case kind::file: write(p, content_of(r)); break;
        case kind::dir: write(p / "own.txt", content_of(r)); break;
        case kind::dir_link: fs::create_directory_symlink(root_ / kOutsideDir, p); break;
        case kind::file_link: fs::create_symlink(root_ / kOutsideFile, p); break;
      }
    }
    before_ = outside();
  }

  const fs::path& root() const { return root_; }
  fs::path tree() const { return root_ / "tree"; }
  // A path as the Lua code writes it: Windows separators.
  static std::string lua_text(const fs::path& p) {
    std::string s = p.string();
    for (auto& c : s)
      if (c == '/') c = '\\';
    return s;
  }

  // Everything below root except tree/ and the folders named: path -> what it is and holds.
  std::map<std::string, std::string> outside(const std::set<std::string>& also_skip = {}) const {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root_, ec), end; it != end; it.increment(ec)) {
      const fs::path rel = it->path().lexically_relative(root_);
      const std::string top = rel.begin()->string();
      if (top == "tree" || also_skip.count(top)) {
        if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
        continue;
      }
      struct stat st {};
      ::lstat(it->path().c_str(), &st);
      if (S_ISLNK(st.st_mode))
        out[rel.string()] = "link to " + fs::read_symlink(it->path()).string();
      else if (S_ISDIR(st.st_mode))
        out[rel.string()] = "folder";
      else
        out[rel.string()] = "file: " + read(it->path());
    }
    return out;
  }
  // What was there when the fixture was made, minus the folders named.
  std::map<std::string, std::string> before(const std::set<std::string>& also_skip = {}) const {
    std::map<std::string, std::string> out;
    for (const auto& [path, what] : before_) {
      if (!also_skip.count(fs::path(path).begin()->string())) out[path] = what;
    }
    return out;
  }

 private:
  fs::path root_;
  std::map<std::string, std::string> before_;
};

}  // namespace hostile_tree
