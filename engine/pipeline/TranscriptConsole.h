#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace oskel {

// Prints live transcripts to standard output, one line per run of fragments
// from the same pipeline and kind.
class TranscriptConsole {
 public:
  using Writer = std::function<void(std::string_view bytes)>;

  // The process-wide console, writing to standard output.
  static TranscriptConsole& shared();

  // A console writing through `writer` (tests, or another stream).
  explicit TranscriptConsole(Writer writer);

  void append(std::string_view pipeline, std::string_view kind, std::string_view text);
  void flushLine();

  std::atomic<bool> enabled{true};
  std::atomic<bool> showInput{true};

 private:
  Writer writer_;
  std::mutex lock_;
  std::string currentKey_;
};

}  // namespace oskel
