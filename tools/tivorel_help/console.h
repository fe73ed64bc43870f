// What a command prints, merged as the runner sees the stock client's output through one pipe:
// standard error shows at once, standard output (a pipe, so fully buffered by the stock client)
// shows when it is flushed or when the command ends. Every change goes to the sink at once, so
// that a client ended at its time-out leaves what it had printed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace tivorel_help {

class console {
 public:
  using sink = std::function<void(const std::string& text)>;
  // Keeps at most `keep` bytes: what the output block can hold and a few to end on a whole
  // character; later text is dropped, as the block could not show it anyway.
  console(sink s, std::size_t keep) : sink_(std::move(s)), keep_(keep) {}

  void err(const std::string& text);
  void out(const std::string& text);      // buffered
  void out_now(const std::string& text);  // the stock client writes and flushes
  void flush();

  const std::string& text() const { return text_; }

 private:
  void append(std::string& to, const std::string& text);
  sink sink_;
  std::size_t keep_;
  std::string text_;
  std::string pending_;
};

}  // namespace tivorel_help
