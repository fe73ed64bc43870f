#include "device/file_transfer.h"

#include "device/socket_message_manager.h"
#include "qv/text.h"
#include "x_os.h"

namespace device {
namespace {

std::wstring file_name(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

}  // namespace

dir_copier::dir_copier() = default;

dir_copier::~dir_copier() { shutdown(); }

std::uint32_t dir_copier::copy(std::string target_dir, std::string source_path, transfer_callback callback) {
  if (target_dir.empty() || target_dir.back() != '\\') target_dir += '\\';
  return add_task(0, std::move(target_dir), std::move(source_path), std::move(callback));
}

std::wstring dir_copier::target_path(const std::wstring& target_dir, const std::wstring& source, bool folder_mode,
                                     const std::wstring& file) {
  return target_dir + (folder_mode ? transfer_lower(file) : file_name(source));
}

std::int32_t dir_copier::run_job(const job& j) {
  bool folder_mode = false;
  std::vector<std::wstring> files;
  if (!start_job(j, folder_mode, files)) return transfer_status::kLocalFile;
  if (!buffer_) buffer_.reset(new char[kCopyChunk]);
  for (const auto& f : files) {
    const std::wstring source = local_file(j.source, folder_mode, f);
    const std::wstring target = target_path(j.dir, j.source, folder_mode, f);
    {
      std::lock_guard<std::mutex> guard(j.record->lock);
      j.record->current_file = source;
    }
    os::file in;
    os::file out;
    if (!in.open_read(source) || !os::create_parent_folders(target)) return transfer_status::kLocalFile;
    switch (out.create_copy_target(target, in)) {
      case os::file::target::ready:
        break;
      case os::file::target::same_file:
        log_line("DirCopy: " + qv::text::wide_to_utf8(source) + " is not copied onto itself");
        return transfer_status::kLocalFile;
      case os::file::target::failed:
        return transfer_status::kLocalFile;
    }
    for (;;) {
      if (cancel_requested()) return transfer_status::kCancelled;
      const std::int64_t got = out.copy_from(in, buffer_.get(), kCopyChunk);
      if (got == 0) break;
      // A short copy is lost data: a failed read or write ends the task, and the partial
      // target goes rather than pass for a copy.
      if (got < 0) {
        out.close();
        os::remove_file(target);
        return transfer_status::kLocalFile;
      }
      {
        std::lock_guard<std::mutex> guard(j.record->lock);
        j.record->done += static_cast<std::uint64_t>(got);
        j.record->status = transfer_status::kProgress;
      }
      post_progress(j);
    }
  }
  return transfer_status::kFinished;
}

}  // namespace device
