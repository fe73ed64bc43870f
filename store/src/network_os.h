// The store's operating-system layer: network adapters and URL resolution.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "store/mac_reader.h"

namespace store::os {

// This system's adapter sources in the order they are tried.
std::vector<adapter_source> adapter_sources();

// Opens the URL with a session of its own and follows its redirects: the final URL, or empty when
// it cannot be opened. Blocks; runs on several threads at once. Once `abandoned` is set nobody
// waits for the answer any more, and the request may end early.
std::wstring open_final_url(const std::wstring& url, const std::atomic<bool>& abandoned);

// Makes the library behind open_final_url ready (once, before the first request's thread), so
// that its own clean-up at the program's end comes after the end of the requests.
void prepare_url_opening();

// Has `wait` run when the program ends, before the libraries clean up (POSIX). Windows ends the
// remaining threads itself, and a thread that ends while the program's end holds the runtime's
// exit lock would wait for it: nothing is registered there.
void wait_at_exit(void (*wait)());

}  // namespace store::os
