#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace oskel::update {

// The administrator prompt and the package tool, as an argument list: apt-get
// installs the file and resolves its dependencies. The path is one argument,
// whatever characters it holds.
std::vector<std::string> installCommand(const std::filesystem::path& package);

// The user's message for an installer that did not succeed; nullopt on success.
// pkexec exits 126 when its dialog was dismissed and 127 when not authorised.
std::optional<std::string> installFailure(const ProcessOutcome& outcome);

}  // namespace oskel::update
