// The store's operating-system layer: network adapters and URL resolution.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "store/mac_reader.h"

namespace store::os {

// This system's adapter sources in the order they are tried.
std::vector<adapter_source> adapter_sources();

// Resolves URLs to where their redirects end, on one worker thread; abort may come from any
// thread.
class url_resolver {
 public:
  virtual ~url_resolver() = default;
  // The final URL after redirects, or empty when the URL cannot be opened (or was aborted).
  virtual std::wstring resolve(const std::wstring& url) = 0;
  // Ends a resolve in progress (it gives empty) and lets later resolves use a fresh session.
  virtual void abort_all() = 0;
};

std::unique_ptr<url_resolver> make_url_resolver();

}  // namespace store::os
