// The clipboard is not in the Linux port: it can never be opened.
#include "clipboard_os.h"

namespace desktop::os {

bool read_clipboard(qv::loop::window_handle, const std::vector<clip_format>&, clip_blocks&) {
  return false;
}
bool write_clipboard(qv::loop::window_handle, clip_format, const std::vector<unsigned char>&) {
  return false;
}

}  // namespace desktop::os
