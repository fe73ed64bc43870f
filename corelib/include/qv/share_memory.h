// A named block of memory shared between processes, guarded by a named kernel mutex.
//
// Layout of the block: a 32-bit little-endian size field (4000, written by every creator) and
// 4000 data bytes. The data's meaning belongs to the user. The first process to create a block
// gets on_created(); later ones keep the data they find.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qv::win32::multiprocess {

namespace os {
class shm_os;
}

class share_memory {
 public:
  static constexpr std::uint32_t kDataSize = 4000;
  static constexpr std::uint32_t kBlockSize = kDataSize + 4;
  // How long open() waits for another process to release the block's mutex.
  static constexpr unsigned kOpenWaitMs = 10000;

  share_memory();
  virtual ~share_memory();
  share_memory(const share_memory&) = delete;
  share_memory& operator=(const share_memory&) = delete;

  // Called once, by the process whose open(name, false) created the block; the default zeroes
  // the data area.
  virtual void on_created(void* data, std::uint32_t size);

  // open_existing: join a block that exists; otherwise create it (or join it if it exists).
  // False on any failure, leaving the object closed; also false when already open or when the
  // name is null or empty.
  bool open(const char* name, bool open_existing);
  void close();

  // Wait without limit for the block's mutex / release it; no-ops unless open.
  void lock();
  void unlock();

  // The data area and the size field (null and 0 when closed). The size is never reported
  // larger than the data area that is really mapped, whatever another process wrote there.
  void* data() const;
  std::uint32_t size() const;
  bool is_open() const;

  // The kernel object names derived from a block's base name.
  static std::string mutex_name(const std::string& base);
  static std::string mapping_name(const std::string& base);

  // The base name open() really uses. Normally the name itself; when the environment variable
  // TIVOREL_OBJECT_SCOPE is set (letters, digits, "-", "_", "." only; anything else is dropped),
  // it is put in front, so that independent runs on one machine (test runs, side-by-side
  // installations) each get their own blocks, the way Windows session namespaces separate them.
  // Child processes inherit the scope with the environment.
  static std::string scoped_name(const std::string& base);

 private:
  std::unique_ptr<os::shm_os> os_;
};

}  // namespace qv::win32::multiprocess
