#pragma once

#include <filesystem>
#include <optional>

namespace oskel::app {

// $XDG_STATE_HOME/oskel/oskel.log, or ~/.local/state/oskel/oskel.log when the
// variable is unset or not absolute.
std::filesystem::path logFilePath();

// Started from a terminal, the log stays on standard error. Otherwise
// standard error is reopened in append mode on the log file; a folder that
// cannot be made leaves it where it was. Returns the file when redirected.
std::optional<std::filesystem::path> redirectLogUnlessTerminal();

// The redirection itself, for a given decision and file.
bool appendStandardErrorTo(const std::filesystem::path& file);

}  // namespace oskel::app
