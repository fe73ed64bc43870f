#include "qv/share_memory.h"

#include "share_memory_os.h"

#include <cstdlib>
#include <cstring>

namespace qv::win32::multiprocess {

namespace {
constexpr const char* kMutexSuffix = "{0552B021-385F-42ff-9575-B13473D97923}";
constexpr const char* kMappingSuffix = "{00D765BD-E15C-49fc-85F3-8D9175531AEF}";

void write_le32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

std::uint32_t read_le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace

share_memory::share_memory() : os_(os::make_shm_os()) {}

share_memory::~share_memory() { close(); }

void share_memory::on_created(void* data, std::uint32_t size) {
  if (data) std::memset(data, 0, size);
}

std::string share_memory::scoped_name(const std::string& base) {
  const char* scope = std::getenv("TIVOREL_OBJECT_SCOPE");
  std::string prefix;
  for (const char* p = scope; p && *p; ++p) {
    const char c = *p;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.')
      prefix.push_back(c);
  }
  return prefix.empty() ? base : prefix + "." + base;
}

std::string share_memory::mutex_name(const std::string& base) { return base + kMutexSuffix; }

std::string share_memory::mapping_name(const std::string& base) { return base + kMappingSuffix; }

bool share_memory::open(const char* name, bool open_existing) {
  if (os_->has_mapping() || os_->has_mutex()) return false;
  if (!name || !*name) return false;
  const std::string mutex = mutex_name(scoped_name(name));
  const std::string mapping = mapping_name(scoped_name(name));

  if (open_existing) {
    if (!os_->open_mutex(mutex)) {
      close();
      return false;
    }
    if (os_->wait_mutex(kOpenWaitMs) != os::wait_result::acquired) {
      close();
      return false;
    }
    if (!os_->open_mapping(mapping) || os_->view_size() < kBlockSize) {
      os_->release_mutex();
      close();
      return false;
    }
    os_->release_mutex();
    return true;
  }

  bool existed = false;
  if (!os_->create_mutex(mutex, existed)) {
    close();
    return false;
  }
  if (existed) {
    auto r = os_->wait_mutex(kOpenWaitMs);
    if (r == os::wait_result::timed_out && os_->reclaim_abandoned_mutex(mutex, mapping)) {
      existed = false;
      r = os::wait_result::acquired;
    }
    if (r != os::wait_result::acquired) {
      close();
      return false;
    }
  }
  bool fresh = false;
  if (!os_->create_mapping(mapping, kBlockSize, fresh) || os_->view_size() < kBlockSize) {
    os_->release_mutex();
    close();
    return false;
  }
  write_le32(os_->view(), kDataSize);
  if (!existed || fresh) on_created(os_->view() + 4, kDataSize);
  os_->release_mutex();
  return true;
}

void share_memory::close() { os_->close(); }

void share_memory::lock() {
  if (os_->has_mutex() && os_->has_mapping()) os_->wait_mutex(os::kWaitForever);
}

void share_memory::unlock() {
  if (os_->has_mutex() && os_->has_mapping()) os_->release_mutex();
}

void* share_memory::data() const { return os_->view() ? os_->view() + 4 : nullptr; }

std::uint32_t share_memory::size() const {
  if (!os_->view()) return 0;
  std::uint32_t v = read_le32(os_->view());
  std::uint32_t room = os_->view_size() >= 4 ? os_->view_size() - 4 : 0;
  return v < room ? v : room;
}

bool share_memory::is_open() const { return os_->view() != nullptr; }

}  // namespace qv::win32::multiprocess
