// Linux: the schema comes from the real sqlite3 client, the way a user would look at the file.
#include <cstdio>
#include <memory>

#include "store_fixture.h"

namespace store_test {

std::string schema_of(const std::filesystem::path& db) {
  const std::string cmd = "sqlite3 '" + db.string() + "' .schema";
  struct pipe_closer {
    void operator()(FILE* f) const { pclose(f); }
  };
  std::unique_ptr<FILE, pipe_closer> p(popen(cmd.c_str(), "r"));
  if (!p) return "<cannot run sqlite3>";
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p.get())) > 0) out.append(buf, n);
  return out;
}

}  // namespace store_test
