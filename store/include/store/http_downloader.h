// The download queue's downloader over the HTTP file download of corelib.
#pragma once

#include <memory>

#include "store/download_queue.h"

namespace store {

std::unique_ptr<file_downloader> make_http_downloader(file_download_events& events);

}  // namespace store
