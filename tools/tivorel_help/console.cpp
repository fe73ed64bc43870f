#include "console.h"

namespace tivorel_help {

void console::append(std::string& to, const std::string& text) {
  if (to.size() < keep_) to.append(text, 0, std::min(text.size(), keep_ - to.size()));
}

void console::err(const std::string& text) {
  if (text.empty()) return;
  append(text_, text);
  if (sink_) sink_(text_);
}

void console::out(const std::string& text) { append(pending_, text); }

void console::out_now(const std::string& text) {
  out(text);
  flush();
}

void console::flush() {
  if (pending_.empty()) return;
  append(text_, pending_);
  pending_.clear();
  if (sink_) sink_(text_);
}

}  // namespace tivorel_help
