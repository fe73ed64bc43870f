// share_memory on POSIX: a named semaphore (count 1 = free) and a shm_open object, with the
// derived names behind a leading "/".
//
// POSIX names outlive their processes, unlike Windows kernel objects, which vanish with the last
// handle. To keep the Windows lifetime, every open block holds a shared flock() on its shm
// descriptor: a block that nobody holds is a leftover of processes that have ended, and is treated
// as absent; the last one to close a block removes both names.
#include "share_memory_os.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::win32::multiprocess::os {
namespace {

std::string posix_name(const std::string& name) { return "/" + name; }

// True when some open share_memory holds the mapping of that name.
bool block_is_live(const std::string& mapping_name) {
  int fd = shm_open(mapping_name.c_str(), O_RDWR, 0);
  if (fd < 0) return false;
  bool live = flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);  // also drops the probe's lock
  return live;
}

class posix_shm final : public shm_os {
 public:
  ~posix_shm() override { close(); }

  bool open_mutex(const std::string& name) override {
    sem_name_ = posix_name(name);
    sem_ = sem_open(sem_name_.c_str(), 0);
    return sem_ != SEM_FAILED;
  }

  bool create_mutex(const std::string& name, bool& existed) override {
    sem_name_ = posix_name(name);
    // Created at 0: the creator owns it until it releases it.
    for (int attempt = 0; attempt < 3; ++attempt) {
      sem_ = sem_open(sem_name_.c_str(), O_CREAT | O_EXCL, 0600, 0);
      if (sem_ != SEM_FAILED) {
        existed = false;
        return true;
      }
      if (errno != EEXIST) return false;
      sem_ = sem_open(sem_name_.c_str(), 0);
      if (sem_ != SEM_FAILED) {
        existed = true;
        return true;
      }
      if (errno != ENOENT) return false;  // removed in between: try again
    }
    return false;
  }

  wait_result wait_mutex(unsigned ms) override {
    if (sem_ == SEM_FAILED) return wait_result::failed;
    if (ms == kWaitForever) {
      while (sem_wait(sem_) != 0) {
        if (errno != EINTR) return wait_result::failed;
      }
      return wait_result::acquired;
    }
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    while (sem_timedwait(sem_, &deadline) != 0) {
      if (errno == ETIMEDOUT) return wait_result::timed_out;
      if (errno != EINTR) return wait_result::failed;
    }
    return wait_result::acquired;
  }

  void release_mutex() override {
    if (sem_ != SEM_FAILED) sem_post(sem_);
  }

  bool reclaim_abandoned_mutex(const std::string& mutex_name,
                               const std::string& mapping_name) override {
    if (block_is_live(posix_name(mapping_name))) return false;
    // Nobody holds the block: the semaphore's owner ended while holding it.
    if (sem_ != SEM_FAILED) sem_close(sem_);
    sem_name_ = posix_name(mutex_name);
    sem_unlink(sem_name_.c_str());
    sem_ = sem_open(sem_name_.c_str(), O_CREAT | O_EXCL, 0600, 0);
    return sem_ != SEM_FAILED;
  }

  bool open_mapping(const std::string& name) override {
    shm_name_ = posix_name(name);
    fd_ = shm_open(shm_name_.c_str(), O_RDWR, 0);
    if (fd_ < 0) return false;
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      // Left behind by processes that have ended: it does not exist any more.
      shm_unlink(shm_name_.c_str());
      sem_unlink(sem_name_.c_str());
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    return map_shared();
  }

  bool create_mapping(const std::string& name, std::uint32_t size, bool& fresh) override {
    shm_name_ = posix_name(name);
    fresh = false;
    fd_ = shm_open(shm_name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd_ >= 0) {
      fresh = true;
    } else {
      if (errno != EEXIST) return false;
      fd_ = shm_open(shm_name_.c_str(), O_RDWR, 0);
      if (fd_ < 0) return false;
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        // Leftover contents of ended processes: start from zeros as a new block would.
        if (ftruncate(fd_, 0) != 0) return false;
        fresh = true;
      }
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) return false;
    if (st.st_size < static_cast<off_t>(size) && ftruncate(fd_, size) != 0) return false;
    return map_shared();
  }

  unsigned char* view() const override { return static_cast<unsigned char*>(view_); }
  std::uint32_t view_size() const override { return static_cast<std::uint32_t>(view_size_); }
  bool has_mutex() const override { return sem_ != SEM_FAILED; }
  bool has_mapping() const override { return fd_ >= 0; }

  void close() override {
    if (view_) {
      munmap(view_, view_size_);
      view_ = nullptr;
      view_size_ = 0;
    }
    bool last = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
    if (sem_ != SEM_FAILED) {
      sem_close(sem_);
      sem_ = SEM_FAILED;
      if (last) sem_unlink(sem_name_.c_str());
    }
    if (fd_ >= 0) {
      if (last) shm_unlink(shm_name_.c_str());
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  // Takes the holder's shared lock and maps the whole object.
  bool map_shared() {
    if (flock(fd_, LOCK_SH) != 0) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || st.st_size <= 0 || st.st_size > 0x7FFFFFFF) return false;
    void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED,
                   fd_, 0);
    if (p == MAP_FAILED) return false;
    view_ = p;
    view_size_ = static_cast<size_t>(st.st_size);
    return true;
  }

  sem_t* sem_ = SEM_FAILED;
  std::string sem_name_;
  int fd_ = -1;
  std::string shm_name_;
  void* view_ = nullptr;
  size_t view_size_ = 0;
};

}  // namespace

std::unique_ptr<shm_os> make_shm_os() { return std::make_unique<posix_shm>(); }

}  // namespace qv::win32::multiprocess::os
