#include "pipeline/TranscriptConsole.h"

#include <unistd.h>

namespace oskel {

namespace {

// One unbuffered write of the whole text, retried on partial writes.
void writeStdout(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

TranscriptConsole& TranscriptConsole::shared() {
  static TranscriptConsole console(writeStdout);
  return console;
}

TranscriptConsole::TranscriptConsole(Writer writer) : writer_(std::move(writer)) {}

void TranscriptConsole::append(std::string_view pipeline, std::string_view kind, std::string_view text) {
  if (!enabled) return;
  if (kind == "heard" && !showInput) return;
  std::lock_guard guard(lock_);
  std::string key = std::string(pipeline) + "|" + std::string(kind);
  std::string out;
  if (key != currentKey_) {
    if (!currentKey_.empty()) out += '\n';
    out += "[" + std::string(pipeline) + " " + std::string(kind) + "] ";
    currentKey_ = std::move(key);
  }
  out += text;
  writer_(out);
}

void TranscriptConsole::flushLine() {
  std::lock_guard guard(lock_);
  if (currentKey_.empty()) return;
  writer_("\n");
  currentKey_.clear();
}

}  // namespace oskel
