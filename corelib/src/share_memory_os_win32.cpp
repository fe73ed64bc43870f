// share_memory on Windows: a named mutex and a named file mapping backed by the paging file.
#include "share_memory_os.h"

#include <windows.h>

namespace qv::win32::multiprocess::os {
namespace {

class win32_shm final : public shm_os {
 public:
  ~win32_shm() override { close(); }

  bool open_mutex(const std::string& name) override {
    mutex_ = OpenMutexA(MUTEX_ALL_ACCESS, TRUE, name.c_str());
    return mutex_ != nullptr;
  }

  bool create_mutex(const std::string& name, bool& existed) override {
    mutex_ = CreateMutexA(nullptr, TRUE, name.c_str());
    existed = GetLastError() == ERROR_ALREADY_EXISTS;
    return mutex_ != nullptr;
  }

  wait_result wait_mutex(unsigned ms) override {
    if (!mutex_) return wait_result::failed;
    switch (WaitForSingleObject(mutex_, ms == kWaitForever ? INFINITE : ms)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:  // the owner ended without releasing: we own it now
        return wait_result::acquired;
      case WAIT_TIMEOUT:
        return wait_result::timed_out;
      default:
        return wait_result::failed;
    }
  }

  void release_mutex() override {
    if (mutex_) ReleaseMutex(mutex_);
  }

  bool reclaim_abandoned_mutex(const std::string&, const std::string&) override { return false; }

  bool open_mapping(const std::string& name) override {
    mapping_ = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
    return mapping_ && map();
  }

  bool create_mapping(const std::string& name, std::uint32_t size, bool& fresh) override {
    fresh = false;  // a new mapping's contents are zero; the mutex tells who created the block
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                  name.c_str());
    return mapping_ && map();
  }

  unsigned char* view() const override { return static_cast<unsigned char*>(view_); }
  std::uint32_t view_size() const override { return view_size_; }
  bool has_mutex() const override { return mutex_ != nullptr; }
  bool has_mapping() const override { return mapping_ != nullptr; }

  void close() override {
    if (view_) {
      UnmapViewOfFile(view_);
      view_ = nullptr;
      view_size_ = 0;
    }
    if (mutex_) {
      CloseHandle(mutex_);
      mutex_ = nullptr;
    }
    if (mapping_) {
      CloseHandle(mapping_);
      mapping_ = nullptr;
    }
  }

 private:
  bool map() {
    view_ = MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view_) return false;
    MEMORY_BASIC_INFORMATION mbi{};
    if (VirtualQuery(view_, &mbi, sizeof mbi) == 0) return false;
    view_size_ = static_cast<std::uint32_t>(mbi.RegionSize);
    return true;
  }

  HANDLE mutex_ = nullptr;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  std::uint32_t view_size_ = 0;
};

}  // namespace

std::unique_ptr<shm_os> make_shm_os() { return std::make_unique<win32_shm>(); }

}  // namespace qv::win32::multiprocess::os
