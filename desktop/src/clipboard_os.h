// The operating-system side of "ClipBoardData.Manager": whole blocks in and out of the
// clipboard, opened with the given owner window.
#pragma once

#include "qv/message_loop.h"

#include <map>
#include <vector>

namespace desktop::os {

enum class clip_format { unicode_text, hdrop, preferred_drop_effect };

using clip_blocks = std::map<clip_format, std::vector<unsigned char>>;

// Copies the block of each asked format the clipboard holds (a format it lacks stays absent);
// false when the clipboard cannot be opened.
bool read_clipboard(qv::loop::window_handle owner, const std::vector<clip_format>& formats,
                    clip_blocks& blocks);
// Empties the clipboard and puts the block; false (clipboard unchanged) when it cannot be
// opened or the block cannot be made, and false with what the clipboard held put back when the
// system does not take the block.
bool write_clipboard(qv::loop::window_handle owner, clip_format format,
                     const std::vector<unsigned char>& block);

}  // namespace desktop::os
