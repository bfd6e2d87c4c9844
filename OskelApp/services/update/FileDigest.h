#pragma once

#include <expected>
#include <filesystem>
#include <string>

namespace oskel::update {

// The SHA-256 digest of a file's contents in lower-case hexadecimal.
std::expected<std::string, std::string> sha256OfFile(const std::filesystem::path& file);

}  // namespace oskel::update
