// The operating-system half of share_memory: one named mutex and one named mapping.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qv::win32::multiprocess::os {

enum class wait_result { acquired, timed_out, failed };

constexpr unsigned kWaitForever = 0xFFFFFFFFu;

class shm_os {
 public:
  virtual ~shm_os() = default;

  // Opens an existing named mutex; false when there is none.
  virtual bool open_mutex(const std::string& name) = 0;
  // Creates the named mutex owned by the caller, or opens it (not owned) when it exists.
  virtual bool create_mutex(const std::string& name, bool& existed) = 0;
  virtual wait_result wait_mutex(unsigned ms) = 0;
  virtual void release_mutex() = 0;
  // After a timed-out wait in create mode: when the mutex was left held by a process that no
  // longer exists, replace it with a fresh one owned by the caller. Systems that report
  // abandoned mutexes themselves never need this.
  virtual bool reclaim_abandoned_mutex(const std::string& mutex_name,
                                       const std::string& mapping_name) = 0;

  // Opens and maps an existing mapping (called with the mutex held). False when it does not
  // exist or was left behind by processes that have all ended.
  virtual bool open_mapping(const std::string& name) = 0;
  // Creates or opens a mapping of `size` bytes and maps it (mutex held). `fresh` tells that its
  // contents were new (created now, or left behind by ended processes and reset).
  virtual bool create_mapping(const std::string& name, std::uint32_t size, bool& fresh) = 0;

  virtual unsigned char* view() const = 0;
  virtual std::uint32_t view_size() const = 0;
  virtual bool has_mutex() const = 0;
  virtual bool has_mapping() const = 0;

  // Unmaps the view, closes the mutex, closes the mapping; each only if present.
  virtual void close() = 0;
};

std::unique_ptr<shm_os> make_shm_os();

}  // namespace qv::win32::multiprocess::os
